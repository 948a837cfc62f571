find_package(PkgConfig REQUIRED)
pkg_check_modules(SDL2 REQUIRED IMPORTED_TARGET sdl2)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libswresample libavutil)
pkg_check_modules(LIBXML2 REQUIRED IMPORTED_TARGET libxml-2.0)
tavoria_fuzz_target(fuzz_playlist
  SOURCES fuzz_playlist.cpp ${ROOT}/media/PlaylistFile.cpp ${ROOT}/media/MediaFunctions.cpp
          ${ROOT}/media/TIniDocument.cpp ${ROOT}/media/TListView.cpp ${ROOT}/media/TextFile.cpp
          ${ROOT}/media/TitleLookup.cpp ${ROOT}/audio/AudioLayer.cpp
          ${ROOT}/audio/AudioDecoder.cpp
  LIBS Qt6::Core Qt6::Gui Qt6::Widgets Qt6::Network PkgConfig::LIBXML2 PkgConfig::SDL2
       PkgConfig::FFMPEG)

find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBXML2 REQUIRED IMPORTED_TARGET libxml-2.0)
tavoria_fuzz_target(fuzz_title
  SOURCES fuzz_title.cpp ${ROOT}/media/TitleLookup.cpp ${ROOT}/media/TListView.cpp
          ${ROOT}/media/TextFile.cpp
  LIBS Qt6::Core Qt6::Gui Qt6::Widgets Qt6::Network PkgConfig::LIBXML2)

tavoria_fuzz_target(fuzz_ini
  SOURCES fuzz_ini.cpp ${ROOT}/media/TIniDocument.cpp ${ROOT}/media/TextFile.cpp
  LIBS Qt6::Core)

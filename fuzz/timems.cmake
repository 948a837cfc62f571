tavoria_fuzz_target(fuzz_timems
  SOURCES fuzz_timems.cpp ${ROOT}/player/VlcUnit.cpp ${ROOT}/platform/VlcFolder.cpp
  LIBS Qt6::Core Qt6::Gui Qt6::Widgets)

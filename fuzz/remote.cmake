tavoria_fuzz_target(fuzz_remote
  SOURCES fuzz_remote.cpp ${ROOT}/remote/HttpMessage.cpp ${ROOT}/remote/RemoteAuth.cpp
  LIBS Qt6::Core Qt6::Network)

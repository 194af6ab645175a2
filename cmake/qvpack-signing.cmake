# qvpack keygen / sign / verify use OpenSSL, which the mingw builds lack:
# their sources (tools/qvpack/signing/, outside the tools glob) join qvpack
# in the Linux builds only, and QVPACK_SIGNING tells qvpack.cpp they are there.
if(NOT WIN32 AND TARGET qvpack)
  find_package(OpenSSL 3 REQUIRED COMPONENTS Crypto)
  file(GLOB QV_QVPACK_SIGNING_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/qvpack/signing/*.cpp)
  target_sources(qvpack PRIVATE ${QV_QVPACK_SIGNING_SOURCES})
  target_link_libraries(qvpack PRIVATE OpenSSL::Crypto)
  target_compile_definitions(qvpack PRIVATE QVPACK_SIGNING=1)
endif()

# Every module/abi/ header compiles on its own with warnings as errors. On a target
# with 32-bit pointers (the Windows module's) this is also where the fixed
# layouts of the host's records are checked by their static_asserts.
file(GLOB ORVIT_ABI_HEADERS CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/module/abi/*.h)
set(ORVIT_ABI_HEADER_SOURCES)
foreach(header ${ORVIT_ABI_HEADERS})
  get_filename_component(name ${header} NAME_WE)
  set(source ${PROJECT_BINARY_DIR}/abi-headers/${name}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "#include \"module/abi/${name}.h\"\n")
  list(APPEND ORVIT_ABI_HEADER_SOURCES ${source})
endforeach()
add_library(orvit_abi_headers OBJECT ${ORVIT_ABI_HEADER_SOURCES})
target_include_directories(orvit_abi_headers PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(orvit_abi_headers PRIVATE orvit_exact orvit_warnings)

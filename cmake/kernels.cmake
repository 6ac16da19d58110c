# Block kernels for x86-64 and their dispatch (included once mime_cores exists).
#
#   MIME_KERNEL=auto     the best set the CPU runs, chosen once at run time (default)
#   MIME_KERNEL=scalar|ssse3|avx2|avx512
#                        the dispatch pinned to one set, for testing that set
#
# The kernels of each set go into mime_cores; the dispatch is an object library
# of its own: mime_dispatch (as MIME_KERNEL says), and mime_dispatch_<set> pinned
# to each set this machine runs (for the kernel-pinned test modules). A module
# links exactly one of them.

set(MIME_KERNEL "auto" CACHE STRING "Kernel set the module uses: auto, scalar, ssse3, avx2 or avx512")
set_property(CACHE MIME_KERNEL PROPERTY STRINGS auto scalar ssse3 avx2 avx512)

# The kernel sets, each the file src/kernels/<set>.cpp and the CPU features it
# needs: each feature is both a compiler flag (-m<feature>) and a name that
# __builtin_cpu_supports knows. This list is the only place they are written.
set(mime_kernel_features_ssse3 ssse3)
set(mime_kernel_features_avx2 avx2)
set(mime_kernel_features_avx512 avx2 bmi bmi2 avx512f avx512bw avx512vbmi avx512vbmi2 popcnt)
# (GCC 12 warns inside its own AVX-512 headers.)
set(mime_kernel_options_avx512 $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)

set(mime_kernel_sets scalar)
set(mime_declarations "")
set(mime_checks "")
set(mime_rows "    {\"scalar\", &portable, always},\n")
set(mime_probe_lines "")
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$" AND CMAKE_SIZEOF_VOID_P EQUAL 8
   AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  include(CheckCXXCompilerFlag)
  foreach(set ssse3 avx2 avx512)
    set(flags "")
    set(tests "")
    foreach(feature ${mime_kernel_features_${set}})
      list(APPEND flags -m${feature})
      list(APPEND tests "__builtin_cpu_supports(\"${feature}\")")
    endforeach()
    list(JOIN flags " " flag_line)
    list(JOIN tests " && " test_line)
    check_cxx_compiler_flag("${flag_line}" MIME_COMPILER_HAS_${set})
    if(NOT MIME_COMPILER_HAS_${set})
      continue()
    endif()
    set(source ${PROJECT_SOURCE_DIR}/src/kernels/${set}.cpp)
    target_sources(mime_cores PRIVATE ${source})
    set_source_files_properties(${source} PROPERTIES COMPILE_OPTIONS "${flags};${mime_kernel_options_${set}}")
    list(APPEND mime_kernel_sets ${set})
    string(APPEND mime_declarations "extern const kernel_table ${set}_kernels;\n")
    string(APPEND mime_checks "bool ${set}_runs() {\n    __builtin_cpu_init();\n    return ${test_line};\n}\n")
    string(APPEND mime_rows "    {\"${set}\", &${set}_kernels, ${set}_runs},\n")
    string(APPEND mime_probe_lines "    if (${test_line}) std::printf(\"${set};\");\n")
  endforeach()
endif()

# The sets as the dispatch sees them (included by src/kernels/cpu.cpp).
set(mime_generated ${CMAKE_BINARY_DIR}/generated)
file(WRITE ${mime_generated}/kernel_sets.inc.new
"// Made by cmake/kernels.cmake from its list of kernel sets.
${mime_declarations}
namespace {

${mime_checks}
const kernel_set built_sets[] = {
${mime_rows}};

}  // namespace
")
configure_file(${mime_generated}/kernel_sets.inc.new ${mime_generated}/kernel_sets.inc COPYONLY)

if(NOT MIME_KERNEL STREQUAL "auto" AND NOT MIME_KERNEL IN_LIST mime_kernel_sets)
  message(FATAL_ERROR "MIME_KERNEL=${MIME_KERNEL}: this compiler and target offer: auto ${mime_kernel_sets}")
endif()

# The sets this machine runs, asked of the CPU at configure time.
set(mime_machine_sets scalar)
if(mime_probe_lines AND NOT CMAKE_CROSSCOMPILING)
  set(mime_probe ${CMAKE_BINARY_DIR}/mime_cpu_probe.cpp)
  file(WRITE ${mime_probe} "#include <cstdio>
int main() {
    __builtin_cpu_init();
${mime_probe_lines}    return 0;
}
")
  try_run(mime_probe_ran mime_probe_built ${CMAKE_BINARY_DIR}/mime_cpu_probe ${mime_probe}
          RUN_OUTPUT_VARIABLE mime_probe_output)
  if(mime_probe_built AND mime_probe_ran EQUAL 0)
    list(APPEND mime_machine_sets ${mime_probe_output})
    list(REMOVE_ITEM mime_machine_sets "")
  endif()
endif()
message(STATUS "Kernel sets: built ${mime_kernel_sets}; this machine runs ${mime_machine_sets}; module uses ${MIME_KERNEL}")
if(NOT MIME_KERNEL STREQUAL "auto" AND NOT MIME_KERNEL IN_LIST mime_machine_sets)
  message(WARNING "MIME_KERNEL=${MIME_KERNEL}: this machine cannot run that set; the module will fail here")
endif()

# mime_add_dispatch(<target> [<set>]): the dispatch, pinned to <set> if given.
function(mime_add_dispatch target)
  add_library(${target} OBJECT ${PROJECT_SOURCE_DIR}/src/kernels/cpu.cpp)
  target_include_directories(${target} PRIVATE ${mime_generated})
  target_link_libraries(${target} PRIVATE mime_flags)
  if(ARGC GREATER 1)
    target_compile_definitions(${target} PRIVATE MIME_KERNEL_PINNED="${ARGV1}")
  endif()
endfunction()

if(MIME_KERNEL STREQUAL "auto")
  mime_add_dispatch(mime_dispatch)
else()
  mime_add_dispatch(mime_dispatch ${MIME_KERNEL})
endif()

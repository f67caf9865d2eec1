# tamrel_add_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>] [THREADS])
# One QtTest executable per test case class; every test runs offscreen.
# THREADS: the suite runs more than one thread in its own process (a port, the simulator's
# line, a worker, the shared block), so the thread build checks it: it gets the label
# "threads" and is built by the target tamrel_thread_suites. Such a suite starts its second
# processes with TChildProcess (tests/common/uChildProcess.h), never QProcess, after which the
# thread checker would see nothing more in it.
function(tamrel_add_test name)
  cmake_parse_arguments(T "THREADS" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE tamrel_testmain Qt6::Test ${T_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  # Recorded so that tests/CMakeLists.txt can tell a test source that no executable builds.
  foreach(src ${T_SOURCES})
    get_filename_component(src ${src} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    set_property(GLOBAL APPEND PROPERTY TAMREL_TEST_SOURCES ${src})
  endforeach()
  if(T_THREADS)
    set_property(GLOBAL APPEND PROPERTY TAMREL_THREAD_SUITES ${name})
    set_tests_properties(${name} PROPERTIES LABELS threads)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # die_after_fork=0: a test that starts a second process (QProcess) forks while Qt's threads
  # run; the child only executes the other program, so the thread checker may go on.
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp:ignore_noninstrumented_modules=1:halt_on_error=1:second_deadlock_stack=1:die_after_fork=0")
endfunction()

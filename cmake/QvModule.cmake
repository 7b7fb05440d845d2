# qv_module(NAME DEPS...) builds src/NAME/*.cpp into the static library qv_NAME.
# Files added to the folder are picked up at the next build without editing CMake.
function(qv_module name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(sources)
    add_library(qv_${name} STATIC ${sources})
    set(scope PUBLIC)
  else()
    add_library(qv_${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(qv_${name} ${scope} ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(qv_${name} ${scope} ${ARGN})
  if(sources)
    target_compile_options(qv_${name} PRIVATE ${QV_WARNINGS})
  endif()
endfunction()

# qv_test(NAME LIBS...) builds tests/NAME/*.cpp into test_NAME and registers its cases with CTest.
function(qv_test name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  target_compile_options(test_${name} PRIVATE ${QV_WARNINGS})
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(test_${name} PRIVATE ${ARGN} qv_testsupport GTest::gtest GTest::gmock GTest::gtest_main)
  target_compile_definitions(test_${name} PRIVATE
    QV_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/data"
    QV_BUILD_DIR="${PROJECT_BINARY_DIR}"
    QV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # Tests never touch the real user's settings (the desktop's GSettings included), documents,
  # cards, sound devices or buses; a test that needs something else sets it itself.
  set(home ${PROJECT_BINARY_DIR}/test-home)
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS ${name}
    ENVIRONMENT "QUILLORY_CONFIG_DIR=${home}/config;XDG_CONFIG_HOME=${home}/config;XDG_DATA_HOME=${home}/data;XDG_CACHE_HOME=${home}/cache;XDG_DOCUMENTS_DIR=${home}/Documents;QUILLORY_CARDS=;QUILLORY_CONTACTS=${home}/contacts;QUILLORY_AUDIO=null;GSETTINGS_BACKEND=memory;DBUS_SESSION_BUS_ADDRESS=unix:path=${home}/no-session-bus;DBUS_SYSTEM_BUS_ADDRESS=unix:path=${home}/no-system-bus")
endfunction()

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
  # cards, sound devices or buses, and see the same machine wherever they run: the language
  # and dates of C.UTF-8 in UTC whatever the user's locale and zone, the fonts of
  # qv_test_fonts() alone, no settings schemas or D-Bus services of the desktop (its data
  # folders are replaced), local file operations without the desktop's file services. A test
  # that needs something else sets it itself.
  set(home ${PROJECT_BINARY_DIR}/test-home)
  qv_test_fonts(${home})
  # Set through env(1) as the tests' launcher: a list given to PROPERTIES ENVIRONMENT reaches
  # the discovered tests with its first entry only.
  set_property(TARGET test_${name} PROPERTY CROSSCOMPILING_EMULATOR env
    -u LANGUAGE -u LC_ALL -u LC_MESSAGES -u LC_TIME -u LC_CTYPE -u GSETTINGS_SCHEMA_DIR
    QUILLORY_CONFIG_DIR=${home}/config XDG_CONFIG_HOME=${home}/config
    XDG_DATA_HOME=${home}/data XDG_CACHE_HOME=${home}/cache XDG_DOCUMENTS_DIR=${home}/Documents QUILLORY_CARDS=
    QUILLORY_CONTACTS=${home}/contacts QUILLORY_AUDIO=null GSETTINGS_BACKEND=memory
    DBUS_SESSION_BUS_ADDRESS=unix:path=${home}/no-session-bus
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=${home}/no-system-bus
    LANG=C.UTF-8 TZ=UTC FONTCONFIG_FILE=${home}/fonts.conf XDG_DATA_DIRS=${home}/share
    GIO_USE_VFS=local)
  gtest_discover_tests(test_${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS ${name})
endfunction()

# The fonts every test process sees (FONTCONFIG_FILE): a folder of links to the files the
# skins and the text tests draw with, all from Debian packages that scripts/install-deps
# installs, and a fonts.conf naming only that folder, so that other fonts on the machine
# change nothing.
function(qv_test_fonts home)
  set(files
    /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
    /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
    /usr/share/fonts/truetype/dejavu/DejaVuSans-Oblique.ttf
    /usr/share/fonts/truetype/freefont/FreeSans.ttf
    /usr/share/fonts/truetype/wqy/wqy-microhei.ttc
    /usr/share/fonts/truetype/ancient-scripts/Symbola_hint.ttf
    /usr/share/fonts/truetype/noto/NotoColorEmoji.ttf)
  file(MAKE_DIRECTORY ${home}/fonts ${home}/share)
  foreach(file ${files})
    get_filename_component(leaf ${file} NAME)
    file(CREATE_LINK ${file} ${home}/fonts/${leaf} RESULT ignored SYMBOLIC)
  endforeach()
  file(WRITE ${home}/fonts.conf
    "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
    "<fontconfig>\n  <dir>${home}/fonts</dir>\n  <cachedir>${home}/fontcache</cachedir>\n"
    "</fontconfig>\n")
endfunction()

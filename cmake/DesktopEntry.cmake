# Run by `cmake --install` (see Install.cmake): writes the desktop entry for the prefix being
# installed into, so that it starts the installed binary by its full path whatever PATH is.
# In: QV_TEMPLATE, QV_OUTPUT, QV_DESKTOP_ID, QV_BINDIR (CMAKE_INSTALL_BINDIR).

if(IS_ABSOLUTE "${QV_BINDIR}")
  set(program "${QV_BINDIR}/quillory")
else()
  set(program "${CMAKE_INSTALL_PREFIX}/${QV_BINDIR}/quillory")
endif()
# A relative --prefix is taken from the folder cmake --install runs in.
get_filename_component(program "${program}" ABSOLUTE BASE_DIR "$ENV{PWD}")
get_filename_component(QV_OUTPUT "${QV_OUTPUT}" ABSOLUTE BASE_DIR "$ENV{PWD}")

# Exec is a command line: a path with blanks or other special characters goes in double quotes,
# with \ " ` $ escaped by a backslash, and every backslash doubled again as the file's string
# escape; % is doubled for the field codes.
string(REPLACE "%" "%%" program "${program}")
if(program MATCHES "[^A-Za-z0-9/._+%-]")
  string(REPLACE "\\" "\\\\\\\\" program "${program}")
  string(REPLACE "\"" "\\\\\"" program "${program}")
  string(REPLACE "`" "\\\\`" program "${program}")
  string(REPLACE "$" "\\\\$" program "${program}")
  set(program "\"${program}\"")
endif()
set(QV_PROGRAM "${program}")
configure_file("${QV_TEMPLATE}" "${QV_OUTPUT}" @ONLY)

# Writes the Windows zip's README.txt: docs/README-windows.txt, Windows'
# own text with its own examples, then the parts of the manual page
# docs/modextract.1 that hold on Windows too, as plain text, with Windows
# line ends, so that the page has one source. The page's EXAMPLES and SEE
# ALSO are for a POSIX shell and are left out.
#   cmake -DGROFF=/usr/bin/groff -DREADME=... -DPAGE=... -DOUT=... -P readme-with-page.cmake
file(READ "${README}" readme)
string(REPLACE "\r\n" "\n" readme "${readme}")
execute_process(COMMAND "${GROFF}" -man -Tascii -rLL=76n -rHY=0 -P-cbou "${PAGE}"
                OUTPUT_VARIABLE page RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "groff could not render ${PAGE}")
endif()
string(REGEX REPLACE "\n\n\n+" "\n\n" page "${page}")
string(REGEX REPLACE "\nEXAMPLES\n.*\nCOPYRIGHT\n" "\nCOPYRIGHT\n" page "${page}")
string(REGEX REPLACE "\nSEE ALSO\n.*" "\n" page "${page}")
foreach(posix "\nEXAMPLES\n" "\nSEE ALSO\n" "~/")
  string(FIND "${page}" "${posix}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the page's POSIX part '${posix}' would reach README.txt")
  endif()
endforeach()
set(rule "==============================================================================")
string(REPLACE "\n" "\r\n" text "${readme}\n\n${rule}\nmodextract.exe: the full description\n${rule}\n\n${page}")
file(WRITE "${OUT}" "${text}")

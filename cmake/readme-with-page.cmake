# Writes the Windows zip's README.txt: docs/README-windows.txt, then the
# manual page docs/modextract.1 as plain text, with Windows line ends, so
# that the page has one source.
#   cmake -DGROFF=/usr/bin/groff -DREADME=... -DPAGE=... -DOUT=... -P readme-with-page.cmake
file(READ "${README}" readme)
string(REPLACE "\r\n" "\n" readme "${readme}")
execute_process(COMMAND "${GROFF}" -man -Tascii -rLL=76n -rHY=0 -P-cbou "${PAGE}"
                OUTPUT_VARIABLE page RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "groff could not render ${PAGE}")
endif()
string(REGEX REPLACE "\n\n\n+" "\n\n" page "${page}")
set(rule "==============================================================================")
string(REPLACE "\n" "\r\n" text "${readme}\n\n${rule}\nmodextract.exe: the manual page\n${rule}\n\n${page}")
file(WRITE "${OUT}" "${text}")

# Writes the tool's manual page from its own help texts, so that the two
# never disagree. Usage: cmake -DTOOL=path/to/pennaro -DOUTPUT=pennaro.1
#                              -DVERSION=x.y.z -P make-manpage.cmake
function(help_of out)
  execute_process(COMMAND ${TOOL} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${TOOL} ${ARGN} failed (${status})")
  endif()
  # roff: backslashes are escapes, and a line starting with . or ' a request.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

help_of(top --help)
string(REGEX MATCH "Commands:\n([^\n]+\n)+" listing "${top}")
string(REGEX MATCHALL "\n  [a-z]+ " names "${listing}")
string(CONCAT page ".TH PENNARO 1 \"\" \"pennaro ${VERSION}\" \"User Commands\"\n"
         ".SH NAME\npennaro \\- render and inspect Pennaro drawings through the Pennaro effect\n"
         ".SH SYNOPSIS\n.B pennaro\n.I COMMAND\n[options]\n.br\n.B pennaro help\n.I COMMAND\n"
         ".SH DESCRIPTION\n.nf\n${top}.fi\n.SH COMMANDS\n")
foreach(name IN LISTS names)
  string(STRIP "${name}" name)
  help_of(text help ${name})
  string(APPEND page ".SS pennaro ${name}\n.nf\n${text}.fi\n")
endforeach()
string(APPEND page ".SH ENVIRONMENT\n.TP\n.B PENNARO_PLUGIN\nThe effect library to load when --plugin is not given.\n")
file(WRITE "${OUTPUT}" "${page}")

# Writes PAGE.gz, the manual page of NAME, from the Markdown manual SOURCE.
file(READ ${SOURCE} text)
# The manual's own first heading is the page's title.
string(REGEX REPLACE "^# [^\n]*\n" "" text "${text}")
string(TIMESTAMP year "%Y")
file(WRITE ${PAGE}.md "% ${TITLE} 1 \"${year}\" \"aeserver ${VERSION}\" \"aeserver manual\"\n\n# NAME\n\n${NAME} - ${SUMMARY}\n\n# DESCRIPTION\n${text}")
execute_process(COMMAND ${GO_MD2MAN} -in ${PAGE}.md -out ${PAGE} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "go-md2man failed on ${SOURCE}")
endif()
execute_process(COMMAND gzip -n -9 -f ${PAGE} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${PAGE}")
endif()

# Writes OUTPUT: the page PAGE with its stylesheet STYLE in its head, where
# the link to it was: a stylesheet of its own would hold the page's first
# paint back by one more round trip.
#   cmake -DPAGE=web/index.html -DSTYLE=web/style.css -DOUTPUT=site/index.html -P inline_style.cmake
file(READ ${PAGE} page)
file(READ ${STYLE} style)
set(link "<link rel=\"stylesheet\" href=\"style.css\">")
string(FIND "${page}" "${link}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${PAGE} has no ${link}")
endif()
string(REPLACE "${link}" "<style>\n${style}</style>" page "${page}")
file(WRITE ${OUTPUT} "${page}")

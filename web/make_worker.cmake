# Writes SITE/service-worker.js from the template TEMPLATE: the list of every
# other file in SITE, and a cache name made of their names and contents. The
# template stays JavaScript: its list is ['@file_list@'], whose one string
# becomes the quoted names, separated by "',\n  '".
#   cmake -DSITE=dir -DTEMPLATE=web/service-worker.js -P make_worker.cmake
file(GLOB files RELATIVE ${SITE} ${SITE}/*)
list(REMOVE_ITEM files service-worker.js)
list(SORT files)
set(content "")
set(list "./")
foreach(f IN LISTS files)
  file(SHA256 ${SITE}/${f} sum)
  string(APPEND content "${f} ${sum}\n")
  string(APPEND list "',\n  '${f}")
endforeach()
string(SHA256 digest "${content}")
string(SUBSTRING ${digest} 0 16 digest)
set(cache_name quorvane-${digest})
set(file_list "${list}")
configure_file(${TEMPLATE} ${SITE}/service-worker.js @ONLY)

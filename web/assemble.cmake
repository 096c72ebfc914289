# cmake -D PAGE=... -D NOTICES=a|b|... -D MODULE=... -D WORKER=... -D FFLATE=... -D SCRIPT=...
#       -D OUT=... -P assemble.cmake
# Puts the licences of the libraries the page holds, the module, the worker,
# fflate and the page's script into the page's HTML: one file.  "</script" never ends an inlined script early.
file(READ ${PAGE} page)
set(notices "")
string(REPLACE "|" ";" NOTICES "${NOTICES}")
foreach(notice ${NOTICES})
  file(READ ${notice} text)
  string(APPEND notices "${text}\n")
endforeach()
string(REPLACE "/*NOTICES*/" "${notices}" page "${page}")
foreach(part MODULE WORKER FFLATE SCRIPT)
  file(READ ${${part}} text)
  string(REPLACE "</script" "<\\/script" text "${text}")
  string(REPLACE "/*${part}*/" "${text}" page "${page}")
endforeach()
file(WRITE ${OUT} "${page}")

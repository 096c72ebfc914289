# cmake -D PAGE=... -D MODULE=... -D WORKER=... -D FFLATE=... -D SCRIPT=... -D OUT=... -P assemble.cmake
# Puts the module, the worker, fflate and the page's script into the page's
# HTML: one file.  "</script" never ends an inlined script early.
file(READ ${PAGE} page)
foreach(part MODULE WORKER FFLATE SCRIPT)
  file(READ ${${part}} text)
  string(REPLACE "</script" "<\\/script" text "${text}")
  string(REPLACE "/*${part}*/" "${text}" page "${page}")
endforeach()
file(WRITE ${OUT} "${page}")

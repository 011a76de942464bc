# atua_pixmap(<text pixel map> <output .ico/.bmp>): converts one of the program's pixel maps at
# build time (tools/pixmap2res.py), for a resource script to embed.
find_program(ATUA_PYTHON3 python3 REQUIRED)
function(atua_pixmap input output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${ATUA_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/pixmap2res.py ${input} ${output}
    DEPENDS ${input} ${PROJECT_SOURCE_DIR}/tools/pixmap2res.py
    COMMENT "Drawing ${output}" VERBATIM)
endfunction()

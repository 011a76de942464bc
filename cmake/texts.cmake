# Source files that hold the program's own texts are written in UTF-8 and compiled with the
# execution character set Windows-1252, so their narrow literals are the program's byte strings.
function(atua_cp1252_sources)
  set_source_files_properties(${ARGN}
    PROPERTIES COMPILE_OPTIONS "-finput-charset=UTF-8;-fexec-charset=CP1252")
endfunction()

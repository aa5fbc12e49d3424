# Platform files. Code that talks to the operating system lives in files of
# its own; on Windows "<name>_windows.cpp" takes the place of "<name>.cpp"
# (or joins the build when there is no such file), elsewhere the Windows
# files are left out. Nothing else in the tree knows which system it is on.
function(tracemill_platform_sources list_var)
  set(sources ${${list_var}})
  set(windows_files ${sources})
  list(FILTER windows_files INCLUDE REGEX "_windows\\.cpp$")
  if(NOT windows_files)
    return()
  endif()
  list(REMOVE_ITEM sources ${windows_files})
  if(WIN32)
    foreach(file ${windows_files})
      string(REGEX REPLACE "_windows\\.cpp$" ".cpp" replaced ${file})
      list(REMOVE_ITEM sources ${replaced})
    endforeach()
    list(APPEND sources ${windows_files})
  endif()
  set(${list_var} ${sources} PARENT_SCOPE)
endfunction()

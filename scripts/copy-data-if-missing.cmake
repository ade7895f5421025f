# Copies each shipped configuration file into DST unless a file of that name is already there.
file(MAKE_DIRECTORY ${DST})
file(GLOB files ${SRC}/*)
foreach(f IN LISTS files)
  get_filename_component(name ${f} NAME)
  if(NOT EXISTS ${DST}/${name})
    file(COPY ${f} DESTINATION ${DST})
  endif()
endforeach()

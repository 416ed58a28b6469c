# Run by cpack once it has made a tarball or a zip: makes it again with its
# members in the order of their names, owned by root, dated by
# SOURCE_DATE_EPOCH. Left to itself cpack takes them in the order the file
# system lists them, which differs from one machine to another, and a zip
# records local time.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
	if(package MATCHES "\\.zip$")
		set(how cf ${package} --format=zip)
	elseif(package MATCHES "\\.tar\\.gz$")
		set(how czf ${package} --format=gnutar)
	else()
		continue()
	endif()
	file(GLOB_RECURSE members LIST_DIRECTORIES false RELATIVE ${CPACK_TOPLEVEL_DIRECTORY}
		${CPACK_TEMPORARY_DIRECTORY}/*)
	list(SORT members)
	execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC0
		${CMAKE_COMMAND} -E tar ${how} -- ${members}
		WORKING_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

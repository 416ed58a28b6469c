# Run by cpack once it has made a package, to make it again so that the same
# commit always gives the same bytes. Left to itself cpack takes the members
# of a tarball or a zip in the order the file system lists them, which
# differs from one machine to another, a zip records local time, and the
# members of a .deb's ar archive take their mode from the umask.
find_program(AR NAMES ar REQUIRED)
foreach(package IN LISTS CPACK_PACKAGE_FILES)
	if(package MATCHES "\\.deb$")
		# ar's deterministic mode: owner root, mode 644, time 0, as
		# dpkg-deb itself writes all but the time. The order stays.
		set(members debian-binary control.tar.gz data.tar.gz)
		set(unpacked ${CPACK_TOPLEVEL_DIRECTORY}/ar)
		file(MAKE_DIRECTORY ${unpacked})
		execute_process(COMMAND ${AR} x ${package} ${members}
			WORKING_DIRECTORY ${unpacked} COMMAND_ERROR_IS_FATAL ANY)
		file(REMOVE ${package})
		execute_process(COMMAND ${AR} rcD ${package} ${members}
			WORKING_DIRECTORY ${unpacked} COMMAND_ERROR_IS_FATAL ANY)
		file(REMOVE_RECURSE ${unpacked})
		continue()
	elseif(package MATCHES "\\.zip$")
		set(how cf ${package} --format=zip)
	elseif(package MATCHES "\\.tar\\.gz$")
		set(how czf ${package} --format=gnutar)
	else()
		continue()
	endif()
	# The members in the order of their names, owned by root, dated by
	# SOURCE_DATE_EPOCH, in UTC.
	file(GLOB_RECURSE members LIST_DIRECTORIES false RELATIVE ${CPACK_TOPLEVEL_DIRECTORY}
		${CPACK_TEMPORARY_DIRECTORY}/*)
	list(SORT members)
	execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC0
		${CMAKE_COMMAND} -E tar ${how} -- ${members}
		WORKING_DIRECTORY ${CPACK_TOPLEVEL_DIRECTORY} COMMAND_ERROR_IS_FATAL ANY)
endforeach()

# The release is the changelog's newest entry: its version, and its date as
# SOURCE_DATE_EPOCH, the time stamp of everything built from it. A
# SOURCE_DATE_EPOCH already in the environment wins, as Debian's tools do.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../changelog newest
	REGEX "^[a-z0-9.+-]+ \\(|^ -- " LIMIT_COUNT 2)
list(GET newest 0 heading)
list(GET newest 1 trailer)
string(REGEX MATCH "\\(([^)]+)\\)" version "${heading}")
set(RELEASE_VERSION ${CMAKE_MATCH_1})
# " -- Name <address>  Mon, 07 Dec 2026 12:00:00 +0000"
string(REGEX MATCH ">  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ([0-9]+):([0-9]+):([0-9]+) ([+-])([0-9][0-9])([0-9][0-9])$"
	date "${trailer}")
if(NOT date)
	message(FATAL_ERROR "changelog: no date in its newest entry's trailer: ${trailer}")
endif()
set(day ${CMAKE_MATCH_1})
set(year ${CMAKE_MATCH_3})
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND months ${CMAKE_MATCH_2} month)
# Days since 1970-01-01 of a date in the proleptic Gregorian calendar, with
# the year taken to begin in March so that a leap day is its last.
if(month LESS 2)
	math(EXPR year "${year} - 1")
	math(EXPR month "${month} + 10")
else()
	math(EXPR month "${month} - 2")
endif()
math(EXPR days "${year} * 365 + ${year} / 4 - ${year} / 100 + ${year} / 400
	+ (153 * ${month} + 2) / 5 + ${day} - 1 - 719468")
math(EXPR RELEASE_EPOCH "${days} * 86400 + ${CMAKE_MATCH_4} * 3600
	+ ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}
	- (${CMAKE_MATCH_7}1) * (${CMAKE_MATCH_8} * 3600 + ${CMAKE_MATCH_9} * 60)")
if(DEFINED ENV{SOURCE_DATE_EPOCH})
	set(SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
	set(SOURCE_DATE_EPOCH ${RELEASE_EPOCH})
endif()
# The date as a manual page gives it.
set(outside "$ENV{SOURCE_DATE_EPOCH}")
set(ENV{SOURCE_DATE_EPOCH} ${RELEASE_EPOCH})
string(TIMESTAMP RELEASE_DATE "%Y-%m-%d" UTC)
set(ENV{SOURCE_DATE_EPOCH} "${outside}")

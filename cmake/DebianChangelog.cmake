# Writes CHANGELOG.md's entries in the form of a Debian changelog, newest
# first. Run as a script:
#   cmake -DSOURCE=CHANGELOG.md -DOUTPUT=changelog -DMAINTAINER="Name <address>"
#         -P DebianChangelog.cmake
# An entry is a line `## VERSION (YYYY-MM-DD)` followed by items starting
# with `- `, each continued on lines indented by two spaces.

# "Mon, 07 Dec 2026 00:00:00 +0000" for 2026-12-07: the day of the week by
# Sakamoto's method, with day 0 a Sunday.
function(debian_date iso out)
  string(REGEX MATCH "^([0-9]+)-([0-9]+)-([0-9]+)$" ignored "${iso}")
  set(year ${CMAKE_MATCH_1})
  math(EXPR month "${CMAKE_MATCH_2} + 0")
  set(day ${CMAKE_MATCH_3})
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR index "${month} - 1")
  list(GET offsets ${index} offset)
  set(y ${year})
  if(month LESS 3)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR weekday
       "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${offset} + ${day}) % 7")
  set(days Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET days ${weekday} day_name)
  list(GET months ${index} month_name)
  set(${out} "${day_name}, ${day} ${month_name} ${year} 00:00:00 +0000"
      PARENT_SCOPE)
endfunction()

file(STRINGS "${SOURCE}" lines)
set(text "")
set(trailer "")
foreach(line IN LISTS lines)
  if(line MATCHES "^## ([^ ]+) \\(([0-9]+-[0-9]+-[0-9]+)\\)$")
    string(APPEND text "${trailer}")
    debian_date(${CMAKE_MATCH_2} date)
    string(APPEND text "ostrel (${CMAKE_MATCH_1}) unstable; urgency=medium\n\n")
    set(trailer "\n -- ${MAINTAINER}  ${date}\n\n")
  elseif(trailer AND line MATCHES "^- (.*)")
    string(APPEND text "  * ${CMAKE_MATCH_1}\n")
  elseif(trailer AND line MATCHES "^  (.*)")
    string(APPEND text "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
if(NOT trailer)
  message(FATAL_ERROR "${SOURCE} has no entry headed ## VERSION (YYYY-MM-DD)")
endif()
string(REGEX REPLACE "\n\n$" "\n" text "${text}${trailer}")
file(WRITE "${OUTPUT}" "${text}")

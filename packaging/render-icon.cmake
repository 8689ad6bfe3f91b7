# Draws one launcher icon: cmake -DSNAPSHOT=... -DSIZE=n -DOUTPUT=file -P render-icon.cmake
# The snapshot tool computes as the program does and writes its log and the
# operator beside the picture; none of that belongs to the icon, so both stay in a
# scratch folder.
get_filename_component(folder ${OUTPUT} DIRECTORY)
set(scratch ${folder}/scratch)
file(MAKE_DIRECTORY ${scratch})
# The viewer it draws with opens its stored window size, which would create a
# registry file in the builder's home.
set(ENV{XDG_CONFIG_HOME} ${scratch})
execute_process(
  COMMAND ${SNAPSHOT} --no-overlay --size ${SIZE}x${SIZE} --rotate-x -1.4 --rotate-y 0.8 --output ${OUTPUT}
  WORKING_DIRECTORY ${scratch}
  OUTPUT_FILE /dev/null
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
file(REMOVE_RECURSE ${scratch})
if(NOT status EQUAL 0)
  message(FATAL_ERROR "vibrolane-snapshot could not draw the ${SIZE}x${SIZE} icon (status ${status}):\n${errors}")
endif()

# Run as `cmake -DSCDOC=... -DGZIP=... -DSOURCE=... -DTARGET=... -P`: scdoc source in, gzipped
# roff out. A script rather than a shell line, so that no path needs quoting; written beside
# the target and renamed, so that a failed run leaves no page that looks built.
execute_process(COMMAND ${SCDOC} COMMAND ${GZIP} -9n
    INPUT_FILE ${SOURCE} OUTPUT_FILE ${TARGET}.part COMMAND_ERROR_IS_FATAL ANY)
file(RENAME ${TARGET}.part ${TARGET})

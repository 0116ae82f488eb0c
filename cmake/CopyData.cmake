# Copies the fetched data into the build tree's share/tovak; missing folders are left out, so a
# build without scripts/setup still links (and the detector then reports its model missing).
foreach(pair "blazeface;models" "demo;demo")
    list(GET pair 0 from)
    list(GET pair 1 to)
    if(IS_DIRECTORY ${SOURCE}/${from})
        file(COPY ${SOURCE}/${from}/ DESTINATION ${DEST}/${to})
    endif()
endforeach()

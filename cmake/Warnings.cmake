# Project warning flags, applied per target with tovak_set_warnings().
function(tovak_set_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                             -Wold-style-cast -Woverloaded-virtual)
    if(TOVAK_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# Hardening for optimised builds without sanitizers.
if(NOT TOVAK_SANITIZE)
    add_compile_options(-fstack-protector-strong "$<$<CONFIG:Release,RelWithDebInfo>:-D_FORTIFY_SOURCE=2>")
    add_link_options(-Wl,-z,relro,-z,now)
endif()

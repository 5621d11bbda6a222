# The project's own code is kept free of warnings; third-party headers come
# in as system includes through their imported targets and stay out of it.
# Warnings stop the developers' and CI builds (scripts/test.sh turns this on),
# never a user's or a packager's, whose compiler may know warnings ours
# does not.
option(VEXEL_WARNINGS_AS_ERRORS "Make warnings on the project's own code errors" OFF)
function(vexel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    -Wnon-virtual-dtor -Wconversion -Wno-sign-conversion)
  if(VEXEL_WARNINGS_AS_ERRORS)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(VEXEL_SANITIZE)
  add_compile_options(-fsanitize=${VEXEL_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${VEXEL_SANITIZE})
  if(VEXEL_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# Fuzzing: every target is instrumented for coverage; only the fuzz targets
# link libFuzzer's main.
if(VEXEL_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()

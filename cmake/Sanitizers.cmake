# BRISEMER_SANITIZE=address builds with AddressSanitizer and UBSan,
# BRISEMER_SANITIZE=thread with ThreadSanitizer. Each needs its own build tree.
set(BRISEMER_SANITIZE "" CACHE STRING "Sanitizer build: empty, address or thread")

if(BRISEMER_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(BRISEMER_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT BRISEMER_SANITIZE STREQUAL "")
  message(FATAL_ERROR "BRISEMER_SANITIZE must be empty, address or thread")
endif()

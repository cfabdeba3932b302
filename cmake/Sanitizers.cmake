# SPDX-License-Identifier: GPL-3.0-or-later
# Instrumented test builds. SENDOLIN_SANITIZE is empty in the ordinary build;
# scripts/test.sh sets it for the builds of its own folders:
#   address  AddressSanitizer (with LeakSanitizer) and UndefinedBehaviorSanitizer;
#            any undefined behaviour ends the process, so a report fails its test
#   thread   ThreadSanitizer
# The flags go to every target, libraries and tests alike, so a fault is caught
# in the frame that makes it, not only where it shows.
set(SENDOLIN_SANITIZE "" CACHE STRING "Sanitizers for a test build: empty, address or thread")
set_property(CACHE SENDOLIN_SANITIZE PROPERTY STRINGS "" address thread)

if(SENDOLIN_SANITIZE STREQUAL "address")
  set(_sendolin_sanitize -fsanitize=address,undefined -fno-sanitize-recover=undefined)
elseif(SENDOLIN_SANITIZE STREQUAL "thread")
  set(_sendolin_sanitize -fsanitize=thread)
elseif(NOT SENDOLIN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "SENDOLIN_SANITIZE must be empty, address or thread, not '${SENDOLIN_SANITIZE}'")
endif()

if(_sendolin_sanitize)
  add_compile_options(${_sendolin_sanitize} -fno-omit-frame-pointer)
  add_link_options(${_sendolin_sanitize})
endif()

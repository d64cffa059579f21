# The two public keys that release manifests are checked against, each
# 128 lower-case hex characters (X then Y of a P-256 point), separated by ";".
# Development builds default to the development keys in tests/keys; a release
# build must name its keys and may not use the development ones.

set(kestrelume_dev_key_1 "f7b4f54dbd262ecc5e14e8484151db23f1e0a8b04968e881a0f67c00448b5ad121d4d9f87d0540b2a275897cc721e1419159b67f7f4c63910ae5c5fbc9ee6711")
set(kestrelume_dev_key_2 "015d9564a2e5d76dad21cd1ff96e191287224ee22e78031b1a2052a352ae3eaaab055135e8581ce7b928d7a1c81b8f3798a4afeef6d5ce0b4e7957e32f756257")

if(KESTRELUME_DEV_BUILD)
  set(KESTRELUME_TRUSTED_KEYS "${kestrelume_dev_key_1};${kestrelume_dev_key_2}"
      CACHE STRING "The two trusted manifest signing keys, 128 hex characters each, separated by ;")
else()
  set(KESTRELUME_TRUSTED_KEYS "" CACHE STRING
      "The two trusted manifest signing keys, 128 hex characters each, separated by ;")
endif()

list(LENGTH KESTRELUME_TRUSTED_KEYS kestrelume_key_count)
if(NOT kestrelume_key_count EQUAL 2)
  message(FATAL_ERROR
    "KESTRELUME_TRUSTED_KEYS must hold exactly two public keys separated by \";\" "
    "(got ${kestrelume_key_count}). Configure with "
    "-DKESTRELUME_TRUSTED_KEYS=<key1>;<key2>, each key 128 lower-case hex characters; "
    "tools/sign-manifest --public-key KEY.pem prints one.")
endif()

set(kestrelume_zero_key "")
string(REPEAT "0" 128 kestrelume_zero_key)
set(kestrelume_real_keys 0)
set(kestrelume_index 0)
foreach(key IN LISTS KESTRELUME_TRUSTED_KEYS)
  math(EXPR kestrelume_index "${kestrelume_index} + 1")
  if(NOT key MATCHES "^[0-9a-f]+$")
    message(FATAL_ERROR "KESTRELUME_TRUSTED_KEYS entry ${kestrelume_index} is not lower-case hex: \"${key}\"")
  endif()
  string(LENGTH "${key}" kestrelume_key_length)
  if(NOT kestrelume_key_length EQUAL 128)
    message(FATAL_ERROR "KESTRELUME_TRUSTED_KEYS entry ${kestrelume_index} has ${kestrelume_key_length} hex characters; a P-256 public key has 128")
  endif()
  if(NOT KESTRELUME_DEV_BUILD AND (key STREQUAL kestrelume_dev_key_1 OR key STREQUAL kestrelume_dev_key_2))
    message(FATAL_ERROR
      "KESTRELUME_TRUSTED_KEYS entry ${kestrelume_index} is a development key from tests/keys. "
      "Release builds must be given the public halves of the real signing keys.")
  endif()
  if(NOT key STREQUAL kestrelume_zero_key)
    math(EXPR kestrelume_real_keys "${kestrelume_real_keys} + 1")
  endif()
endforeach()
if(kestrelume_real_keys EQUAL 0)
  message(FATAL_ERROR "KESTRELUME_TRUSTED_KEYS holds only empty (all-zero) slots; no manifest could ever verify")
endif()

# A release installer must be able to verify with both keys: each a point on
# P-256, two different keys, no empty slot for the standby key. The curve
# arithmetic needs big integers, so the publishing tools' key module does it.
if(NOT KESTRELUME_DEV_BUILD)
  find_program(KESTRELUME_PYTHON NAMES python3 HINTS /usr/bin REQUIRED)
  execute_process(COMMAND ${KESTRELUME_PYTHON} ${CMAKE_SOURCE_DIR}/tools/trusted_keys.py
      --check-release "${KESTRELUME_TRUSTED_KEYS}"
    OUTPUT_VARIABLE kestrelume_key_problems RESULT_VARIABLE kestrelume_key_result)
  if(NOT kestrelume_key_result EQUAL 0)
    message(FATAL_ERROR "${kestrelume_key_problems}")
  endif()
endif()

list(GET KESTRELUME_TRUSTED_KEYS 0 KESTRELUME_TRUSTED_KEY_1)
list(GET KESTRELUME_TRUSTED_KEYS 1 KESTRELUME_TRUSTED_KEY_2)

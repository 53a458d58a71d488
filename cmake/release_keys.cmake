# Publisher keys compiled into the updater. Each PEM file (ECDSA P-256 public
# key) becomes its uncompressed point X||Y and its key id, the first 8 bytes
# of SHA-256(X||Y). The `openssl` command does the reading at configure time;
# nothing here parses keys by hand.
#
#   ruvo_write_release_keys(<header> <pem;pem;...> [<ids variable> [<threshold>]])
#   ruvo_check_release_config(<ids> <scheme> <allow test keys> <allow plain http>)

function(ruvo_hex_to_initializer hex out)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," list "${hex}")
  string(REGEX REPLACE ",$" "" list "${list}")
  set(${out} "${list}" PARENT_SCOPE)
endfunction()

function(ruvo_write_release_keys header keys)
  set(ids "")
  # DER of a P-256 SubjectPublicKeyInfo up to the point: SEQUENCE, the
  # id-ecPublicKey and prime256v1 identifiers, BIT STRING, uncompressed-point tag.
  set(spkiPrefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
  set(entries "")
  set(seen "")
  set(count 0)
  # Scratch files of this call alone: two configures of one build folder at
  # once must never read each other's half-written files. A call that fails
  # leaves its folder behind, to be read.
  string(RANDOM LENGTH 16 scratch)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/release-keys/${scratch})
  file(MAKE_DIRECTORY ${work})
  foreach(pem IN LISTS keys)
    if(NOT IS_ABSOLUTE "${pem}")
      get_filename_component(pem "${pem}" ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
    endif()
    if(NOT EXISTS "${pem}")
      message(FATAL_ERROR "RUVO_RELEASE_KEYS: no such key file: ${pem}")
    endif()
    if(NOT RUVO_OPENSSL_COMMAND)
      find_program(RUVO_OPENSSL_COMMAND openssl)
      if(NOT RUVO_OPENSSL_COMMAND)
        message(FATAL_ERROR "RUVO_RELEASE_KEYS needs the openssl command (Debian package openssl)")
      endif()
    endif()
    execute_process(COMMAND ${RUVO_OPENSSL_COMMAND} pkey -pubin -in ${pem} -outform DER -out ${work}/key.der
                    RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE message)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "RUVO_RELEASE_KEYS: ${pem} is not a PEM public key (give the .pub.pem file):\n${message}")
    endif()
    file(READ ${work}/key.der der HEX)
    string(LENGTH "${der}" derLength)
    string(SUBSTRING "${der}" 0 54 prefix)
    if(NOT derLength EQUAL 182 OR NOT prefix STREQUAL spkiPrefix)
      message(FATAL_ERROR "RUVO_RELEASE_KEYS: ${pem} is not an ECDSA P-256 public key")
    endif()
    string(SUBSTRING "${der}" 54 128 point)
    if(point IN_LIST seen)
      message(FATAL_ERROR "RUVO_RELEASE_KEYS: ${pem} repeats a key given before it")
    endif()
    list(APPEND seen ${point})
    # The key id hashes the 64 point bytes. CMake cannot write binary, so
    # openssl turns the hex back into bytes: an OCTET STRING inside a
    # context tag, whose contents -strparse writes out raw.
    execute_process(COMMAND ${RUVO_OPENSSL_COMMAND} asn1parse -genstr "EXPLICIT:0,FORMAT:HEX,OCT:${point}"
                            -noout -out ${work}/point.der
                    RESULT_VARIABLE status1 OUTPUT_QUIET ERROR_QUIET)
    execute_process(COMMAND ${RUVO_OPENSSL_COMMAND} asn1parse -inform DER -in ${work}/point.der -strparse 2
                            -noout -out ${work}/point.bin
                    RESULT_VARIABLE status2 OUTPUT_QUIET ERROR_QUIET)
    file(SIZE ${work}/point.bin pointSize)
    if(NOT status1 EQUAL 0 OR NOT pointSize EQUAL 64)
      message(FATAL_ERROR "RUVO_RELEASE_KEYS: could not compute the key id of ${pem}")
    endif()
    file(SHA256 ${work}/point.bin digest)
    string(SUBSTRING "${digest}" 0 16 keyId)
    ruvo_hex_to_initializer(${keyId} keyIdBytes)
    ruvo_hex_to_initializer(${point} pointBytes)
    string(APPEND entries "    // ${pem}\n    // key id ${keyId}\n    {{${keyIdBytes}},\n     {${pointBytes}}},\n")
    list(APPEND ids ${keyId})
    math(EXPR count "${count} + 1")
    message(STATUS "Release key ${keyId}: ${pem}")
  endforeach()
  if(ARGC GREATER 2)
    set(${ARGV2} "${ids}" PARENT_SCOPE)
  endif()
  if(count EQUAL 0)
    set(entries "    {{0}, {0}},  // none: releases are not signed\n")
  endif()
  # How many distinct trusted keys must sign a release: with k of n, fewer
  # than k stolen keys sign nothing a client accepts.
  set(threshold 1)
  if(ARGC GREATER 3 AND NOT "${ARGV3}" STREQUAL "")
    set(threshold ${ARGV3})
  endif()
  if(NOT threshold MATCHES "^[1-9][0-9]*$" OR (count GREATER 0 AND threshold GREATER count))
    message(FATAL_ERROR "RUVO_RELEASE_KEY_THRESHOLD must be a whole number from 1 to the number of keys in "
                        "RUVO_RELEASE_KEYS (${count}), not '${threshold}'")
  endif()
  set(content "#pragma once
// Generated at configure time from RUVO_RELEASE_KEYS; do not edit.
// Publisher keys whose signed release statements the updater accepts. With
// none, releases are not signed and nothing is checked.
#include <cstddef>

#include \"update/release_statement.h\"

constexpr size_t RELEASE_KEY_COUNT = ${count};
constexpr bool SIGNED_RELEASES = RELEASE_KEY_COUNT > 0;
// Distinct keys of these whose signatures a release statement must carry.
constexpr int RELEASE_KEY_THRESHOLD = ${threshold};
constexpr ReleaseKey RELEASE_KEYS[] = {
${entries}};
")
  # Replaced in one step, and only when it changes: a compile running beside
  # another configure sees the old header or the new one, never half of one,
  # and an unchanged header rebuilds nothing.
  set(current "")
  if(EXISTS ${header})
    file(READ ${header} current)
  endif()
  if(NOT current STREQUAL content)
    file(WRITE ${work}/release_keys.h "${content}")
    get_filename_component(headerDir ${header} DIRECTORY)
    file(MAKE_DIRECTORY ${headerDir})
    file(RENAME ${work}/release_keys.h ${header})
  endif()
  file(REMOVE_RECURSE ${work})
endfunction()

# The key ids of tests/fixtures/keys/: their private halves are public, so a
# build that trusts one trusts anyone.
set(RUVO_TEST_ONLY_KEY_IDS 6479c7bdad0f2145 19804222e904f473 346574fe19483a57)

# What a build that ships may trust. A test-only key, and keys whose
# statements would travel over plain http (where a network attacker sees
# and can withhold every file), each need an explicit opt-in that only the
# test builds give.
function(ruvo_check_release_config ids scheme allowTestKeys allowPlainHttp)
  foreach(id IN LISTS ids)
    if(id IN_LIST RUVO_TEST_ONLY_KEY_IDS AND NOT allowTestKeys)
      message(FATAL_ERROR "RUVO_RELEASE_KEYS: key ${id} is a test-only key from tests/fixtures/keys/, whose "
                          "private half is public: a build that trusts it trusts anyone. Give your publisher "
                          "key, or -DRUVO_ALLOW_TEST_KEYS=ON for a test build.")
    endif()
  endforeach()
  if(ids AND scheme STREQUAL "http" AND NOT allowPlainHttp)
    message(FATAL_ERROR "RUVO_RELEASE_KEYS with an http base URL: signed releases are meant for https "
                        "(-DRUVO_UPDATE_BASE_URL=https://...), or -DRUVO_ALLOW_PLAIN_HTTP=ON for a test build.")
  endif()
endfunction()

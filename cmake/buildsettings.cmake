# Settings fixed when the starter is built, as ordinary cache variables:
#
#   cmake --preset win32 -B build/acme -DQV_PACKAGE_PUBLIC_KEYS=<hex> \
#     -DQV_ACCOUNT_SERVERS=.example.com -DQV_ERROR_SERVER_HOST=errors.example.com
#
# Each value is checked here, so a malformed one stops the configure step
# with a message instead of building a starter that quietly misbehaves. An
# empty value keeps the default written in the code. The older spelling in
# CMAKE_CXX_FLAGS (-DQV_ERROR_SERVER_HOST=\"...\") still works, unchecked,
# as long as a setting is not given both ways.

set(QV_PACKAGE_PUBLIC_KEYS "" CACHE STRING
  "Public keys (128 hex digits, raw X||Y) whose package signatures the starter accepts: the current one and optionally the next, comma separated. Empty: packages are not checked")
set(QV_ACCOUNT_SERVERS "" CACHE STRING
  "Account servers a link or settings file may name, comma separated: host names, .domains (the domain and every name under it), IPv4 addresses. Empty: any server")
set(QV_ERROR_SERVER_HOST "" CACHE STRING "Error server host name. Empty: no name lookup")
set(QV_ERROR_SERVER_ADDRESS "" CACHE STRING
  "Error server IPv4 address, used when the host is empty or does not resolve. Empty: 127.0.0.1")
foreach(i 1 2 3 4)
  set(QV_SERVICE_DOMAIN_${i} "" CACHE STRING
    "Service domain ${i} for which the proxy auto-config script is asked about the public site. Empty: the .invalid default")
endforeach()
set(QV_PUBLIC_HTTPS_SITE "" CACHE STRING "The public HTTPS site (https://host[:port][/path]). Empty: https://public-site.invalid")

# Dotted-decimal IPv4 with four parts, no leading zeros.
set(_qv_octet "(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])")
set(_qv_ipv4 "^${_qv_octet}\\.${_qv_octet}\\.${_qv_octet}\\.${_qv_octet}$")
set(_qv_label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")

# Whether NAME is a host name: labels of letters, digits and inner hyphens,
# 1..63 characters each, the last not all digits, at most 253 characters
# (one trailing dot allowed and dropped). OUT gets it in lower case, or "".
function(_qv_host_name name out)
  string(REGEX REPLACE "\\.$" "" n "${name}")
  string(LENGTH "${n}" len)
  set(result "")
  if(len GREATER 0 AND len LESS_EQUAL 253 AND n MATCHES "^${_qv_label}(\\.${_qv_label})*$")
    set(ok TRUE)
    string(REPLACE "." ";" labels "${n}")
    foreach(label IN LISTS labels)
      string(LENGTH "${label}" l)
      if(l GREATER 63)
        set(ok FALSE)
      endif()
    endforeach()
    list(GET labels -1 last)
    if(last MATCHES "^[0-9]+$")
      set(ok FALSE)
    endif()
    if(ok)
      string(TOLOWER "${n}" result)
    endif()
  endif()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

function(_qv_setting_error name value why)
  message(FATAL_ERROR "${name}=\"${value}\": ${why}")
endfunction()

# Splits a list written with commas, semicolons or blanks.
function(_qv_split value out)
  string(REGEX REPLACE "[,; \t\r\n]+" ";" items "${value}")
  list(FILTER items EXCLUDE REGEX "^$")
  set(${out} "${items}" PARENT_SCOPE)
endfunction()

# A setting given as a cache variable and in CMAKE_CXX_FLAGS at once is
# ambiguous; one given only in the flags is left to the flags.
function(_qv_old_spelling name out)
  set(${out} FALSE PARENT_SCOPE)
  if(" ${CMAKE_CXX_FLAGS} ${CMAKE_C_FLAGS} " MATCHES "[ \t]-D[ ]*${name}[= \t]")
    if(NOT "${${name}}" STREQUAL "")
      message(FATAL_ERROR "${name} is given twice: as -D${name}=... and inside CMAKE_CXX_FLAGS; keep one")
    endif()
    message(STATUS "${name} comes from CMAKE_CXX_FLAGS, unchecked; -D${name}=<value> is checked")
    set(${out} TRUE PARENT_SCOPE)
  endif()
endfunction()

set(_qv_definitions "")

# QV_PACKAGE_PUBLIC_KEYS
_qv_split("${QV_PACKAGE_PUBLIC_KEYS}" _qv_keys)
list(LENGTH _qv_keys _qv_count)
if(_qv_count GREATER 2)
  _qv_setting_error(QV_PACKAGE_PUBLIC_KEYS "${QV_PACKAGE_PUBLIC_KEYS}"
    "at most two keys (the current one and the next one)")
endif()
set(_qv_normal "")
foreach(_qv_key IN LISTS _qv_keys)
  string(LENGTH "${_qv_key}" _qv_len)
  if(NOT _qv_key MATCHES "^[0-9A-Fa-f]+$" OR NOT _qv_len EQUAL 128)
    _qv_setting_error(QV_PACKAGE_PUBLIC_KEYS "${QV_PACKAGE_PUBLIC_KEYS}"
      "\"${_qv_key}\" is not a public key: 128 hex digits (${_qv_len} given), as `qvpack keygen` prints them")
  endif()
  string(TOLOWER "${_qv_key}" _qv_key)
  if(_qv_key IN_LIST _qv_normal)
    _qv_setting_error(QV_PACKAGE_PUBLIC_KEYS "${QV_PACKAGE_PUBLIC_KEYS}" "the same key twice")
  endif()
  list(APPEND _qv_normal "${_qv_key}")
endforeach()
if(_qv_normal)
  list(JOIN _qv_normal "," _qv_value)
  list(APPEND _qv_definitions "QV_PACKAGE_PUBLIC_KEYS=\"${_qv_value}\"")
endif()

# QV_ACCOUNT_SERVERS
_qv_split("${QV_ACCOUNT_SERVERS}" _qv_servers)
list(LENGTH _qv_servers _qv_count)
if(_qv_count GREATER 16)
  _qv_setting_error(QV_ACCOUNT_SERVERS "${QV_ACCOUNT_SERVERS}" "at most 16 entries")
endif()
set(_qv_normal "")
foreach(_qv_server IN LISTS _qv_servers)
  if(_qv_server MATCHES "${_qv_ipv4}")
    list(APPEND _qv_normal "${_qv_server}")
    continue()
  endif()
  set(_qv_dot "")
  set(_qv_name "${_qv_server}")
  if(_qv_server MATCHES "^\\.")
    set(_qv_dot ".")
    string(SUBSTRING "${_qv_server}" 1 -1 _qv_name)
  endif()
  _qv_host_name("${_qv_name}" _qv_host)
  if(_qv_host STREQUAL "")
    set(_qv_why "\"${_qv_server}\" is not a host name, a .domain or an IPv4 address")
    if(_qv_server MATCHES "://|/")
      string(APPEND _qv_why " (write the host name alone, without a scheme or a path)")
    elseif(_qv_server MATCHES ":")
      string(APPEND _qv_why " (IPv6 addresses and ports are not supported)")
    elseif(_qv_server MATCHES "^\\*\\.")
      string(APPEND _qv_why " (write .domain for a domain and every name under it)")
    endif()
    _qv_setting_error(QV_ACCOUNT_SERVERS "${QV_ACCOUNT_SERVERS}" "${_qv_why}")
  endif()
  list(APPEND _qv_normal "${_qv_dot}${_qv_host}")
endforeach()
if(_qv_normal)
  list(JOIN _qv_normal "," _qv_value)
  list(APPEND _qv_definitions "QV_ACCOUNT_SERVERS=\"${_qv_value}\"")
endif()

# QV_ERROR_SERVER_HOST, QV_SERVICE_DOMAIN_1..4: host names
foreach(_qv_setting QV_ERROR_SERVER_HOST QV_SERVICE_DOMAIN_1 QV_SERVICE_DOMAIN_2 QV_SERVICE_DOMAIN_3
        QV_SERVICE_DOMAIN_4)
  _qv_old_spelling(${_qv_setting} _qv_old)
  if(NOT "${${_qv_setting}}" STREQUAL "")
    _qv_host_name("${${_qv_setting}}" _qv_host)
    if(_qv_host STREQUAL "" AND NOT (_qv_setting STREQUAL "QV_ERROR_SERVER_HOST" AND "${${_qv_setting}}" MATCHES "${_qv_ipv4}"))
      _qv_setting_error(${_qv_setting} "${${_qv_setting}}" "not a host name")
    endif()
    list(APPEND _qv_definitions "${_qv_setting}=\"${${_qv_setting}}\"")
  endif()
endforeach()

# QV_ERROR_SERVER_ADDRESS: IPv4
_qv_old_spelling(QV_ERROR_SERVER_ADDRESS _qv_old)
if(NOT QV_ERROR_SERVER_ADDRESS STREQUAL "")
  if(NOT QV_ERROR_SERVER_ADDRESS MATCHES "${_qv_ipv4}")
    _qv_setting_error(QV_ERROR_SERVER_ADDRESS "${QV_ERROR_SERVER_ADDRESS}" "not an IPv4 address (such as 192.0.2.7)")
  endif()
  list(APPEND _qv_definitions "QV_ERROR_SERVER_ADDRESS=\"${QV_ERROR_SERVER_ADDRESS}\"")
endif()

# QV_PUBLIC_HTTPS_SITE: https://host[:port][/path]
_qv_old_spelling(QV_PUBLIC_HTTPS_SITE _qv_old)
if(NOT QV_PUBLIC_HTTPS_SITE STREQUAL "")
  set(_qv_host "")
  if(QV_PUBLIC_HTTPS_SITE MATCHES "^https://([^/:]+)(:([1-9][0-9]*))?(/[A-Za-z0-9._~!$&'()*+,;=:@%/?#-]*)?$")
    set(_qv_port "${CMAKE_MATCH_3}")
    _qv_host_name("${CMAKE_MATCH_1}" _qv_host)
    if(_qv_port AND _qv_port GREATER 65535)
      set(_qv_host "")
    endif()
  endif()
  if(_qv_host STREQUAL "")
    _qv_setting_error(QV_PUBLIC_HTTPS_SITE "${QV_PUBLIC_HTTPS_SITE}"
      "not an https://host[:port][/path] address")
  endif()
  list(APPEND _qv_definitions "QV_PUBLIC_HTTPS_SITE=\"${QV_PUBLIC_HTTPS_SITE}\"")
endif()

if(_qv_definitions)
  add_compile_definitions(${_qv_definitions})
  message(STATUS "Build-time settings: ${_qv_definitions}")
endif()

# The OAuth2 clients a build carries for the accounts whose section names no
# OAuthClientId (see the README, "Shipping the docklet with client IDs of your
# own"). Each value goes into a C++ string as written: only the characters a
# URL carries unescaped may appear, never a quote, a backslash or a space.

set(TIDEWELL_MICROSOFT_CLIENT_ID "" CACHE STRING
    "Application (client) ID of a public client registered in Microsoft Entra; empty: none")
set(TIDEWELL_GOOGLE_CLIENT_ID "" CACHE STRING
    "Client ID of a Desktop app OAuth client registered in Google Auth Platform; empty: none")
set(TIDEWELL_GOOGLE_CLIENT_SECRET "" CACHE STRING
    "That Google client's secret; empty: none")

# Sets out to the compile definitions of src/config/built_in_clients.cpp for
# these values (none for an empty one), or stops the configuration with the
# reason; the secret's value is never printed.
function(tidewell_built_in_client_definitions out microsoftId googleId googleSecret)
  set(definitions)
  foreach(entry MICROSOFT_CLIENT_ID GOOGLE_CLIENT_ID GOOGLE_CLIENT_SECRET)
    if(entry STREQUAL MICROSOFT_CLIENT_ID)
      set(value "${microsoftId}")
    elseif(entry STREQUAL GOOGLE_CLIENT_ID)
      set(value "${googleId}")
    else()
      set(value "${googleSecret}")
    endif()
    string(LENGTH "${value}" length)
    if(NOT value MATCHES "^[A-Za-z0-9._~-]*$" OR length GREATER 200)
      if(entry MATCHES "SECRET")
        set(shown "")
      else()
        set(shown " \"${value}\"")
      endif()
      message(FATAL_ERROR "TIDEWELL_${entry}${shown}: at most 200 letters, digits, '.', '_', '~' and '-'")
    endif()
    if(NOT value STREQUAL "")
      list(APPEND definitions "TIDEWELL_${entry}=\"${value}\"")
    endif()
  endforeach()
  if(googleId STREQUAL "" AND NOT googleSecret STREQUAL "")
    message(FATAL_ERROR "TIDEWELL_GOOGLE_CLIENT_SECRET is set without TIDEWELL_GOOGLE_CLIENT_ID")
  endif()
  set(${out} "${definitions}" PARENT_SCOPE)
endfunction()

# Where the client finds its service. The defaults point at the development backend on loopback
# (tools/devbackend), so a fresh build works end to end; a release build passes the service's
# real origins, each with its scheme.

set(ORVANE_API_BASE_URL_1 "http://127.0.0.1:47601" CACHE STRING "First built-in API base URL")
set(ORVANE_API_BASE_URL_2 "http://127.0.0.1:47602" CACHE STRING "Second built-in API base URL")
set(ORVANE_API_BASE_URL_3 "http://127.0.0.1:47603" CACHE STRING "Third built-in API base URL")
set(ORVANE_TUNNEL_HOST_URL "http://127.0.0.1:47604" CACHE STRING
    "API base URL handed to the tunnel when no API base has answered yet")
set(ORVANE_PAYMENT_ORIGIN "http://127.0.0.1:47605" CACHE STRING "Origin of the web payment page")
set(ORVANE_OFFICIAL_SITE_ORIGIN "http://127.0.0.1:47606" CACHE STRING
    "Origin of the official site (agreement texts, home page)")
set(ORVANE_SERVICE_CHAT_URL "http://127.0.0.1:47606/service/chat.html" CACHE STRING
    "The customer-service chat page")

foreach(name IN ITEMS ORVANE_API_BASE_URL_1 ORVANE_API_BASE_URL_2 ORVANE_API_BASE_URL_3
                      ORVANE_TUNNEL_HOST_URL ORVANE_PAYMENT_ORIGIN ORVANE_OFFICIAL_SITE_ORIGIN
                      ORVANE_SERVICE_CHAT_URL)
    if(NOT "${${name}}" MATCHES "^https?://[^/]+")
        message(FATAL_ERROR "${name} must be a URL with its scheme, got '${${name}}'")
    endif()
endforeach()

foreach(name IN ITEMS ORVANE_API_BASE_URL_1 ORVANE_API_BASE_URL_2 ORVANE_API_BASE_URL_3
                      ORVANE_TUNNEL_HOST_URL ORVANE_PAYMENT_ORIGIN ORVANE_OFFICIAL_SITE_ORIGIN)
    if("${${name}}" MATCHES "^https?://[^/]+/")
        message(FATAL_ERROR "${name} must be an origin without a path, got '${${name}}'")
    endif()
endforeach()

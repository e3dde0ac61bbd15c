# The real setup against Debian's nginx configured by the publisher's sample (tools/nginx/download-host.conf):
# one CTest test per server state, NginxHost.<row>, each running nginx_host_tests inside tests/e2e/nginx-row.
# The signed variant is pinned to this tree's end-to-end port, so the rows run one at a time, like the rest
# of the end-to-end suite.
add_executable(nginx_host_tests nginx_host_test.cpp)
target_link_libraries(nginx_host_tests PRIVATE end_to_end_support GTest::gmock_main)
add_dependencies(nginx_host_tests setup_e2e_signed test_installers test_pki)

foreach(row rsa ecdsa notfound forbidden offline moved tls13-only)
  add_test(NAME NginxHost.${row}
    COMMAND "${CMAKE_CURRENT_SOURCE_DIR}/nginx-row" ${row} --pki "${LUMIVANCE_PKI_DIR}"
            --installer "${installers}/signed.exe" --port ${LUMIVANCE_E2E_PORT}
            --path /downloads/win/x64/LumivanceSetup-${PROJECT_VERSION}.exe
            -- ${CMAKE_CROSSCOMPILING_EMULATOR} "$<TARGET_FILE:nginx_host_tests>")
  set_tests_properties(NginxHost.${row} PROPERTIES
    FIXTURES_REQUIRED wineprefix LABELS wine RUN_SERIAL TRUE TIMEOUT 120 ENVIRONMENT LUMIVANCE_NEEDS_DISPLAY=1)
endforeach()

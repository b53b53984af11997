# Helpers for the network tests: a scripted loopback peer, a listener that
# never answers a connect, and a capture of the application log.
add_library(fw_test_net_support STATIC ScriptedPeer.cpp LogCapture.cpp)
target_include_directories(fw_test_net_support PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(fw_test_net_support PUBLIC fw_test_support fw_base Threads::Threads)

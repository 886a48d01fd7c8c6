// Every test program starts the way Kestrova's main() does before any thread exists: libcurl
// initialised, SIGPIPE and SIGXFSZ ignored (a closed socket or a file-size limit fails the
// write that met it instead of ending the process).
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}

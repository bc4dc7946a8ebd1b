// Entry point of each JVM test executable: starts the VM, loads the libraries under test.
#include "jvm_test.h"

#ifndef TEST_NATIVE_LIBS
#error TEST_NATIVE_LIBS must list the native libraries to load, separated by ':'
#endif

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    jvmtest::startVm();
    std::string libraries = TEST_NATIVE_LIBS;
    std::size_t start = 0;
    while (start <= libraries.size()) {
        std::size_t end = libraries.find(':', start);
        if (end == std::string::npos) end = libraries.size();
        if (end > start) jvmtest::loadLibrary(libraries.substr(start, end - start).c_str());
        start = end + 1;
    }
    return RUN_ALL_TESTS();
}

# JNI headers. Linux builds take them from the JDK as usual. Cross builds for Windows take jni.h
# from the host JDK and our own jni_md.h (platform/jni) for the Windows calling convention.
if(CMAKE_CROSSCOMPILING AND WIN32)
  find_path(BRIDGES_JNI_H jni.h
    PATHS /usr/lib/jvm/java-17-openjdk-amd64/include /usr/lib/jvm/default-java/include
    NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(BRIDGES_JNI_INCLUDE_DIRS ${CMAKE_SOURCE_DIR}/platform/jni ${BRIDGES_JNI_H})
else()
  # Debian's OpenJDK 17 unless JAVA_HOME names another JDK.
  if(NOT DEFINED ENV{JAVA_HOME} AND NOT JAVA_HOME)
    file(GLOB debian_jdks /usr/lib/jvm/java-17-openjdk-*)
    if(debian_jdks)
      list(GET debian_jdks 0 JAVA_HOME)
      set(JAVA_HOME ${JAVA_HOME} CACHE PATH "JDK used for JNI headers, the VM and javac")
    endif()
  endif()
  find_package(JNI REQUIRED COMPONENTS JVM)
  set(BRIDGES_JNI_INCLUDE_DIRS ${JNI_INCLUDE_DIRS})
endif()

add_library(bridges_jni INTERFACE)
target_include_directories(bridges_jni SYSTEM INTERFACE ${BRIDGES_JNI_INCLUDE_DIRS})

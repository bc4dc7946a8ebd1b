/* The Win32 subset the project uses, declared for POSIX and served by libwin32api.
 * Values and semantics are those of Win32; see platform/win32/README.md for what is left out. */
#ifndef KELVRA_WIN32_POSIX_H
#define KELVRA_WIN32_POSIX_H

#ifdef _WIN32
#error "win32_posix.h is for POSIX builds; include win32api.h"
#endif

#include <stddef.h>
#include <stdint.h>

/* Exported from libwin32api even though everything else builds with hidden visibility. */
#define WIN32API_EXPORT __attribute__((visibility("default")))

#define WINAPI
#define CALLBACK
#define APIENTRY

#ifdef __cplusplus
extern "C" {
#endif

typedef void *HANDLE;
typedef HANDLE *PHANDLE, *LPHANDLE;
typedef uint32_t DWORD;
typedef DWORD *PDWORD, *LPDWORD;
typedef int BOOL;
typedef BOOL *PBOOL, *LPBOOL;
typedef int32_t LONG;
typedef LONG *PLONG, *LPLONG;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef char CHAR;
typedef void *PVOID, *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef size_t SIZE_T;
typedef uintptr_t ULONG_PTR, DWORD_PTR, UINT_PTR;
typedef intptr_t LONG_PTR, INT_PTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef DWORD(WINAPI *PTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define INFINITE 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_ABANDONED_0 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 0x00000103u

#define STACK_SIZE_PARAM_IS_A_RESERVATION 0x00010000u

#define ERROR_SUCCESS 0u
#define NO_ERROR 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_ALREADY_EXISTS 183u
#define ERROR_NOT_OWNER 288u
#define ERROR_TOO_MANY_POSTS 298u

/* Errors */
WIN32API_EXPORT DWORD WINAPI GetLastError(void);
WIN32API_EXPORT void WINAPI SetLastError(DWORD dwErrCode);

/* Handles */
WIN32API_EXPORT BOOL WINAPI CloseHandle(HANDLE hObject);
WIN32API_EXPORT HANDLE WINAPI GetCurrentProcess(void);

/* Events */
WIN32API_EXPORT HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                           BOOL bInitialState, LPCSTR lpName);
WIN32API_EXPORT BOOL WINAPI SetEvent(HANDLE hEvent);
WIN32API_EXPORT BOOL WINAPI ResetEvent(HANDLE hEvent);

/* Mutexes */
WIN32API_EXPORT HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                                           LPCSTR lpName);
WIN32API_EXPORT BOOL WINAPI ReleaseMutex(HANDLE hMutex);

/* Semaphores */
WIN32API_EXPORT HANDLE WINAPI CreateSemaphoreA(LPSECURITY_ATTRIBUTES lpSemaphoreAttributes, LONG lInitialCount,
                                               LONG lMaximumCount, LPCSTR lpName);
WIN32API_EXPORT BOOL WINAPI ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LPLONG lpPreviousCount);

/* Waits */
WIN32API_EXPORT DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
WIN32API_EXPORT DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE *lpHandles, BOOL bWaitAll,
                                                    DWORD dwMilliseconds);

/* Threads */
WIN32API_EXPORT HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, SIZE_T dwStackSize,
                                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                           DWORD dwCreationFlags, LPDWORD lpThreadId);
WIN32API_EXPORT BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);
WIN32API_EXPORT DWORD WINAPI GetCurrentThreadId(void);
WIN32API_EXPORT void WINAPI Sleep(DWORD dwMilliseconds);

#ifdef __cplusplus
}
#endif

#endif

/* Two behaviours of the Windows API as Wine gives them, which the programs'
 * Windows builds meet through Qt; built and run by tools/windows-check.sh.
 *
 *   wine-probe timers [N]   how many of N multimedia timers (what a precise
 *                           QTimer is on Windows) fire before their interval
 *                           by the performance counter (what QElapsedTimer
 *                           reads), and the earliest
 *   wine-probe rxchar PORT  whether the receive notification Qt Serial Port
 *                           waits for (an alertable EV_RXCHAR wait through
 *                           NtDeviceIoControlFile with a completion routine)
 *                           completes once bytes come: PORT must receive
 *                           some within a second of the start
 */
#include <windows.h>
#include <winternl.h>
#include <mmsystem.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifndef IOCTL_SERIAL_WAIT_ON_MASK
#define IOCTL_SERIAL_WAIT_ON_MASK CTL_CODE(FILE_DEVICE_SERIAL_PORT, 18, METHOD_BUFFERED, FILE_ANY_ACCESS)
#endif

typedef NTSTATUS(NTAPI *DeviceIoControlFile)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK,
                                             ULONG, PVOID, ULONG, PVOID, ULONG);

static LARGE_INTEGER frequency, start;
static volatile LONG fired;
static double firedMs;

static double ElapsedMs(void)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

static void CALLBACK TimerFired(UINT id, UINT message, DWORD_PTR user, DWORD_PTR a, DWORD_PTR b)
{
    (void)id, (void)message, (void)user, (void)a, (void)b;
    if (!fired) {
        firedMs = ElapsedMs();
        fired = 1;
    }
}

static int Timers(int count)
{
    const UINT intervalMs = 21;  /* above 20 ms, as the link's waits are */
    int early = 0;
    double earliest = 1e9;
    for (int k = 0; k < count; ++k) {
        fired = 0;
        Sleep(k % 7);  /* starts spread over the timer's millisecond */
        QueryPerformanceCounter(&start);
        UINT id = timeSetEvent(intervalMs, 1, TimerFired, 0,
                               TIME_CALLBACK_FUNCTION | TIME_PERIODIC | TIME_KILL_SYNCHRONOUS);
        if (!id) {
            printf("timeSetEvent failed\n");
            return 1;
        }
        while (!fired)
            Sleep(1);
        timeKillEvent(id);
        if (firedMs < intervalMs)
            ++early;
        if (firedMs < earliest)
            earliest = firedMs;
    }
    printf("timers: %d of %d fired before their %u ms, the earliest at %.3f ms\n", early, count,
           intervalMs, earliest);
    return 0;
}

static OVERLAPPED waitOverlapped;
static DWORD events;
static volatile LONG completions;

static VOID WINAPI ApcRoutine(PVOID context, PIO_STATUS_BLOCK io, ULONG reserved)
{
    (void)context, (void)io, (void)reserved;
    ++completions;
}

static int RxChar(const char *port)
{
    HANDLE handle = CreateFileA(port, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        printf("rxchar: %s does not open (error %lu)\n", port, GetLastError());
        return 1;
    }
    /* As Qt Serial Port sets the port up. */
    COMMTIMEOUTS timeouts;
    memset(&timeouts, 0, sizeof timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;
    SetCommTimeouts(handle, &timeouts);
    SetCommMask(handle, EV_RXCHAR);
    DeviceIoControlFile call = (DeviceIoControlFile)(void (*)(void))GetProcAddress(
        GetModuleHandleA("ntdll.dll"), "NtDeviceIoControlFile");
    PIO_STATUS_BLOCK io = (PIO_STATUS_BLOCK)&waitOverlapped.Internal;
    io->Status = STATUS_PENDING;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    NTSTATUS status = call(handle, NULL, ApcRoutine, NULL, io, IOCTL_SERIAL_WAIT_ON_MASK, NULL, 0,
                           &events, sizeof events);
    const double returnedMs = ElapsedMs();
    while (ElapsedMs() < 3000 && !completions)
        SleepEx(50, TRUE);
    /* What had come meanwhile, read now. */
    char bytes[4096];
    DWORD got = 0;
    OVERLAPPED read;
    memset(&read, 0, sizeof read);
    read.hEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!ReadFile(handle, bytes, sizeof bytes, &got, &read) && GetLastError() == ERROR_IO_PENDING)
        GetOverlappedResult(handle, &read, &got, TRUE);
    printf("rxchar: the wait returned status %#lx after %.1f ms; its completion routine ran %ld "
           "times in 3 s, while %lu bytes came\n",
           (unsigned long)status, returnedMs, (long)completions, got);
    CloseHandle(handle);
    return 0;
}

int main(int argc, char **argv)
{
    QueryPerformanceFrequency(&frequency);
    if (argc >= 2 && !strcmp(argv[1], "timers"))
        return Timers(argc >= 3 ? atoi(argv[2]) : 40);
    if (argc >= 3 && !strcmp(argv[1], "rxchar"))
        return RxChar(argv[2]);
    fprintf(stderr, "usage: wine-probe timers [N] | rxchar PORT\n");
    return 2;
}

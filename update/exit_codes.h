#pragma once

// Exit codes of the command-line updates, on every link. On POSIX systems the exit status a shell
// sees is the code modulo 256: -10 gives 246.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitOpenFailed = -10;    // the network link could not be opened
inline constexpr int kExitNoBootloader = -11;  // no bootloader answered within 10 s
inline constexpr int kExitFileTooShort =
    -12;  // shorter than 2 bytes, or the link could not open it
inline constexpr int kExitFileUnreadable =
    -13;  // cannot be opened, or reading it failed in the link
inline constexpr int kExitFileMalformed = -14;   // odd size or a malformed frame
inline constexpr int kExitTooManyErrors = -15;   // no or wrong response from the device
inline constexpr int kExitSignatureError = -16;  // the update does not fit the device
inline constexpr int kExitNotReady = -17;        // the bootloader is not ready
// A Corvane device did not switch into its bootloader when told (no or a wrong answer, or no
// enter-bootloader code configured) and the replug guidance could not run or was cancelled.
inline constexpr int kExitNoSwitch = -18;
// The update was stopped between two frames because its front end asked it to (a station's
// second stop, which records the attempt as interrupted by its signal instead).
inline constexpr int kExitStopped = -19;
// The bootloader that answered is not the device the front end expects (another device id, or
// a bootloader older than required): no frame was sent.
inline constexpr int kExitWrongDevice = -20;
// A command line that cannot be carried out as written (an unknown option, a missing value,
// a missing operand or one too many, no display for the dialog): exit status 2, and nothing was
// tried.
inline constexpr int kExitUsage = 2;

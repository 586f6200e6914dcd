#pragma once

// The vocabulary of the wire, named once: what the program sends to the ControlPanel, to its
// bootloader and, relayed, to the control board's bootloader. A command is two ASCII letters in
// payload bytes 0 and 1; an echo-checked reply begins with the same two in reverse order.

struct CommandLetters
{
    char first;
    char second;
};

namespace command {

// To the ControlPanel running its application.
constexpr CommandLetters kConnectionCheck{'E', 'e'};
constexpr CommandLetters kPanelBootloaderEntry{'B', 'b'}; // it restarts into its bootloader
constexpr CommandLetters kBoardBootloaderEntry{'K', 'k'}; // it relays to the board from now on

// To a bootloader, the ControlPanel's or the control board's: programming may begin.
constexpr CommandLetters kStart{'C', 'c'};

// The ControlPanel's bootloader; offsets are 32-bit big-endian from byte 2.
constexpr CommandLetters kPanelRow{'X', 'x'};            // prepares a row of four pages
constexpr CommandLetters kPanelPage{'Y', 'y'};           // the next report is the page's data
constexpr CommandLetters kPanelRead{'R', 'r'};           // answered by 64 bytes of flash
constexpr CommandLetters kPanelBootloaderExit{'b', 'B'}; // the one pair reversed

// The control board's bootloader, relayed; the page address is 16-bit big-endian from byte 2.
constexpr CommandLetters kBoardAddress{'L', 'l'};
constexpr CommandLetters kBoardWritePage{'M', 'm'}; // two data halves follow
constexpr CommandLetters kBoardReadPage{'N', 'n'};  // answered by two reports of 64 bytes
constexpr CommandLetters kBoardBootloaderExit{'O', 'o'};
// How the board acknowledges a page's second half: the write-page command's own echo.
constexpr CommandLetters kBoardPageWritten{'m', 'M'};

} // namespace command

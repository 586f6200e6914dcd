#pragma once

// The ControlPanel's USB identity. Its bootloader presents the same ids as its application.
constexpr unsigned short kControlPanelVendorId = 0x03EB;
constexpr unsigned short kControlPanelProductId = 0x2402;

// Unnumbered reports: one report id byte (always 0) in front of 64 payload bytes going out,
// 64 bytes coming back.
constexpr int kPayloadSize = 64;
constexpr int kReportSize = kPayloadSize + 1;
constexpr int kReplySize = 64;

// Every reply must arrive within this time; the devices answer each report once.
constexpr int kReplyTimeoutMs = 4000;

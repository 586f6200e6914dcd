#pragma once

// The labels of the window's own dialogs. The engine's texts, which the window shows as they
// stand, are in UpdateTexts.h.

// The programming dialog, over both page walks.
constexpr const char *kWritingLabel = "Writing...";
constexpr const char *kVerifyingLabel = "Verifying...";
// The wait dialog while a target restarts into its bootloader, and the ControlPanel back.
constexpr const char *kPanelWaitLabel = "Wait...";
constexpr const char *kBoardWaitLabel = "Wait for zel02 bootloader...";

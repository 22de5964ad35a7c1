#pragma once

#include "engine/link_profile.h"

// The bootloader dialogue as each of the four links carries it.
const SingleSyncProfile& SerialSyncProfile();
const SingleSyncProfile& NetworkSyncProfile();
const HuntingSyncProfile& FtdiSyncProfile();
const HuntingSyncProfile& SilabsSyncProfile();

const TransferProfile& SerialTransferProfile();
const TransferProfile& FtdiTransferProfile();
const TransferProfile& SilabsTransferProfile();
const TransferProfile& NetworkTransferProfile();

// Log sources of the links: text lines, dumps of sent bytes, dumps of received bytes.
inline constexpr int kSourcePages = 9;
inline constexpr int kSourceFtdi = 10;
inline constexpr int kSourceFtdiSent = 11;
inline constexpr int kSourceNetwork = 20;
inline constexpr int kSourceNetworkSent = 21;
inline constexpr int kSourceNetworkReceived = 22;
inline constexpr int kSourceSerial = 30;
inline constexpr int kSourceSerialSent = 31;
inline constexpr int kSourceSerialReceived = 32;
inline constexpr int kSourceSilabs = 50;
inline constexpr int kSourceSilabsSent = 51;
inline constexpr int kSourceSilabsReceived = 52;

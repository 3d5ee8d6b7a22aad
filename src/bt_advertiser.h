// LE advertising and BR/EDR discoverability set-up.
#pragma once

#include "bt_common.h"

namespace bt {

class BluetoothAdvertiser {
  public:
    BluetoothAdvertiser(HalLink& hci, GlobalState& state) : hci(hci), state(state) {}

    bool enableAdvertising();

  private:
    HalLink& hci;
    GlobalState& state;
};

}  // namespace bt

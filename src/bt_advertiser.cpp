#include "bt_advertiser.h"

namespace bt {

bool BluetoothAdvertiser::enableAdvertising() { return false; }

}  // namespace bt

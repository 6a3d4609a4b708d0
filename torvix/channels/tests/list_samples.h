// Lists for the channel-list tests: made by hand, with values in every field
// and bits that no text carries set wherever a record has them.
#pragma once

#include "torvix/channels/channel_list.h"

namespace torvix::channels::testing {

// Three satellites (the last without transponders), five transponders, four
// services; KVRS also two antennas, services on either and on none.
ChannelList HandMadeList(Layout layout);

}  // namespace torvix::channels::testing

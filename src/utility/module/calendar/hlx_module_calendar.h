// The calendars module: requests 1500 to 1502 on the device's synchronisation service, class
// "com.apple.Calendars" (hlx_sync_session.h runs the sessions):
//   1500  list the calendars with their events and each event's recurrence and display alarms: a
//         count reply ({"Count":n}, -1 when there are none and a data-sync account holds them),
//         then record replies of at most 20 calendars; records are linked only when every batch
//         the device sends is in, so a child listed before its parent is still shown
//   1501  write a calendar with its events, display alarms and recurrences (each a changes
//         message that the desktop composed); the events' references to the calendar, and the
//         alarms' and recurrences' to the events, are rewritten to the device's ids as literal
//         text; one reply maps every sent id to the device's
//   1502  delete a record {"id"}; the device deletes what only it holds with it
// Replies: the frame's 21, 7 and 8 (hlx_feature_module.h); 8 a data part that is not what the
// request needs (checked before any session opens), 13 no service, 24 the connection was lost, 35
// the device refused or cancelled, 29 (1501) no id for the calendar.
//
// Threads: any worker; no state of its own.
#pragma once

#include <rapidjson/fwd.h>

#include "utility/hlx_feature_module.h"

namespace hlx {

class HLXModuleCalendar : public HLXFeatureModule {
 protected:
  int Run(FeatureRequest& request) override;

 private:
  int ListCalendars(const FeatureRequest& request);
  int WriteCalendar(const FeatureRequest& request, const rapidjson::Value& data);
  int DeleteCalendarRecord(const FeatureRequest& request, const rapidjson::Value& data);
};

}  // namespace hlx

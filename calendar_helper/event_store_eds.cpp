// The calendar store on Linux: Evolution Data Server through libecal.
//
// Access is the opening of the source registry, done on a thread of its own
// so the caller's bounded wait holds even when the registry never answers.
// EDS asks no one for permission: a registry that cannot be opened, or that
// nothing serves, is a store that is not there, and only the session bus
// turning the call away (AccessDenied, as its policy may) is a refusal.
// Events are the occurrences EDS generates for the window, recurrences
// expanded by EDS; dates and floating times are read in the local zone. The
// query iterates a main context of its own on the caller's thread, so a
// factory that never answers blocks only that thread.
#include <libecal/libecal.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <exception>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "event_store.h"
#include "ical_values.h"
#include "glib_silence.h"
#include "session_bus.h"

namespace halvic {

namespace {

struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

// The GSettings schemas EDS's client libraries open. GLib ends the process
// (SIGTRAP) when a schema is missing, which happens when the host hands its
// children an XDG_DATA_DIRS of its own that leaves out EDS's (as sandboxed
// and bundled applications do), so they are looked up before any EDS call.
bool edsSchemasReachable() {
  GSettingsSchemaSource* schemas = g_settings_schema_source_get_default();  // none when no schema is reachable
  if (schemas == nullptr) return false;
  for (const char* id : {"org.gnome.Evolution.DefaultSources", "org.gnome.evolution-data-server",
                         "org.gnome.evolution-data-server.calendar"}) {
    GSettingsSchema* schema = g_settings_schema_source_lookup(schemas, id, TRUE);
    if (schema == nullptr) return false;
    g_settings_schema_unref(schema);
  }
  return true;
}

// A running registry always serves its built-in sources ("system-calendar"
// at least). GLib opens a registry whose bus name has no owner without an
// error, waiting for one to appear, and that registry has no sources at all.
bool servesSources(ESourceRegistry* registry) {
  GList* sources = e_source_registry_list_sources(registry, nullptr);
  const bool any = sources != nullptr;
  g_list_free_full(sources, g_object_unref);
  return any;
}

// Whole seconds for the EDS query. EDS refuses a negative bound without
// ever calling back, which would leave the query waiting for good, so the
// bounds stay between 0 and far inside what time_t holds.
time_t querySeconds(double wholeSeconds) {
  constexpr double kLimit = 1e15;
  if (std::isnan(wholeSeconds)) return 0;
  return static_cast<time_t>(std::clamp(wholeSeconds, 0.0, kLimit));
}

// One calendar's connection and instance query, driven by EDS callbacks on
// the context that events() iterates.
struct CalendarQuery {
  struct Shared {
    time_t queryStart;
    time_t queryEnd;
    double windowStart;
    double windowEnd;
    ICalTimezone* zone;
    int pending;  // queries not yet finished
  };

  CalendarQuery(Shared* shared, std::optional<std::string> title) : shared(shared), title(std::move(title)) {}

  Shared* shared;
  std::optional<std::string> title;
  GRef<EClient> client;
  std::vector<StoreEvent> events;
  // EDS handed over at least one occurrence, which proves the calendar was
  // read; instance generation reports no error, so a failed object list looks
  // like an empty one.
  bool delivered = false;
  bool answered = false;  // without occurrences: its backend answered a probe

  static void connected(GObject*, GAsyncResult* result, gpointer data) {
    auto* query = static_cast<CalendarQuery*>(data);
    query->client.reset(e_cal_client_connect_finish(result, nullptr));
    if (!query->client) {
      --query->shared->pending;
      return;
    }
    auto* calClient = E_CAL_CLIENT(query->client.get());
    e_cal_client_set_default_timezone(calClient, query->shared->zone);
    e_cal_client_generate_instances(calClient, query->shared->queryStart, query->shared->queryEnd, nullptr,
                                    collect, query, generated);
  }

  static void generated(gpointer data) { --static_cast<CalendarQuery*>(data)->shared->pending; }

  // A query that matches nothing: it only asks whether the backend answers.
  void probe() {
    ++shared->pending;
    e_cal_client_get_object_list(E_CAL_CLIENT(client.get()), "#f", nullptr, probed, this);
  }

  static void probed(GObject*, GAsyncResult* result, gpointer data) {
    auto* query = static_cast<CalendarQuery*>(data);
    GSList* components = nullptr;
    query->answered =
        e_cal_client_get_object_list_finish(E_CAL_CLIENT(query->client.get()), result, &components, nullptr);
    g_slist_free_full(components, g_object_unref);
    --query->shared->pending;
  }

  bool read() const { return delivered || answered; }

  static gboolean collect(ICalComponent* component, ICalTime* start, ICalTime* end, gpointer data, GCancellable*,
                          GError**) {
    auto* query = static_cast<CalendarQuery*>(data);
    query->delivered = true;
    StoreEvent event;
    event.startDate = {instantOf(start)};
    event.endDate = {instantOf(end)};
    // The window is half-open: keep what overlaps it, and a zero-length
    // occurrence that lies inside it.
    const double s = event.startDate.secondsSince1970;
    const double e = event.endDate.secondsSince1970;
    const Shared& shared = *query->shared;
    const bool overlaps = s < shared.windowEnd && (e > shared.windowStart || (e == s && s >= shared.windowStart));
    if (!overlaps) return TRUE;
    event.calendarTitle = query->title;
    event.title = propertyText(component, I_CAL_SUMMARY_PROPERTY, i_cal_property_get_summary);
    event.location = propertyText(component, I_CAL_LOCATION_PROPERTY, i_cal_property_get_location);
    event.isAllDay = i_cal_time_is_date(start);
    query->events.push_back(std::move(event));
    return TRUE;  // keep going
  }
};

// What the registry thread hands to the store; it outlives both when the
// request is still running as the process ends.
struct RegistrySlot {
  std::atomic<ESourceRegistry*> registry{nullptr};
};

class EdsEventStore final : public EventStore {
 public:
  EdsEventStore() : slot_(std::make_shared<RegistrySlot>()) {}

  ~EdsEventStore() override {
    if (ESourceRegistry* registry = slot_->registry.exchange(nullptr)) g_object_unref(registry);
  }

  void requestFullAccessToEvents(AccessCompletion completion) override {
    // Without a session bus to name, GLib would start one of its own (given a
    // DISPLAY), which outlives the run and holds no calendars. The address is
    // set here, before any thread of ours reads the environment.
    const std::string bus = sessionBusAddress();
    if (bus.empty()) {
      completion(AccessOutcome::unavailable, std::nullopt);
      return;
    }
    g_setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), TRUE);
    auto open = [slot = slot_](const AccessCompletion& done) {
      using enum AccessOutcome;
      if (!edsSchemasReachable()) {
        done(unavailable, std::nullopt);
        return;
      }
      GError* raw = nullptr;
      ESourceRegistry* registry = e_source_registry_new_sync(nullptr, &raw);
      ErrorPtr error(raw);
      if (registry == nullptr) {
        // No session bus, or one that failed us, is no refusal.
        const bool turnedAway = error && g_error_matches(error.get(), G_DBUS_ERROR, G_DBUS_ERROR_ACCESS_DENIED);
        done(turnedAway ? refused : unavailable, error ? optionalText(error->message) : std::nullopt);
        return;
      }
      if (!servesSources(registry)) {
        g_object_unref(registry);
        done(unavailable, std::nullopt);
        return;
      }
      slot->registry.store(registry);
      done(granted, std::nullopt);
    };
    try {
      // A copy, not a move: when the thread cannot be made, the completion
      // must still be there to report it.
      std::thread(open, completion).detach();
    } catch (const std::exception& failure) {
      // No thread to ask from: the store cannot be reached, though it refused nothing.
      completion(AccessOutcome::unavailable, failure.what());
    }
  }

  void accessGranted() override {}  // the registry opened after the answer; it sees every source

  std::optional<std::vector<StoreCalendar>> eventCalendars() override {
    ESourceRegistry* registry = slot_->registry.load();
    if (registry == nullptr) return std::nullopt;
    std::vector<StoreCalendar> calendars;
    GList* sources = e_source_registry_list_enabled(registry, E_SOURCE_EXTENSION_CALENDAR);
    for (GList* item = sources; item != nullptr; item = item->next) {
      auto* source = static_cast<ESource*>(item->data);
      calendars.push_back({e_source_get_uid(source), optionalText(e_source_get_display_name(source))});
    }
    g_list_free_full(sources, g_object_unref);
    return calendars;
  }

  StoreEvents events(Instant start, Instant end, const std::vector<StoreCalendar>& calendars) override {
    ESourceRegistry* registry = slot_->registry.load();
    if (registry == nullptr) return {};
    // EDS tests all-day events by date only and the window's ends
    // inclusively: it leaves out an all-day event on the window's last,
    // partial day and hands over one that ends where the window starts. So
    // it is asked for a day more on each side, and CalendarQuery::collect keeps
    // exactly the occurrences that overlap the half-open window.
    constexpr time_t kMargin = 86400;
    CalendarQuery::Shared shared{
        .queryStart = querySeconds(std::floor(start.secondsSince1970) - kMargin),
        .queryEnd = querySeconds(std::ceil(end.secondsSince1970) + kMargin),
        .windowStart = start.secondsSince1970,
        .windowEnd = end.secondsSince1970,
        .zone = localZone(),
        .pending = 0,
    };

    // Every calendar is connected and queried at once: each costs a few
    // D-Bus round trips and the factory's backend work, which overlap
    // instead of adding up per calendar.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    std::vector<std::unique_ptr<CalendarQuery>> queries;
    for (const StoreCalendar& calendar : calendars) {
      GRef<ESource> source(e_source_registry_ref_source(registry, calendar.identifier.c_str()));
      if (!source) continue;
      auto& query = queries.emplace_back(std::make_unique<CalendarQuery>(&shared, calendar.title));
      ++shared.pending;
      // (guint32)-1: do not wait for a remote backend to come online; it
      // answers from its cache at once instead of costing seconds per calendar.
      e_cal_client_connect(source.get(), E_CAL_CLIENT_SOURCE_TYPE_EVENTS, static_cast<guint32>(-1), nullptr,
                           CalendarQuery::connected, query.get());
    }
    while (shared.pending > 0) g_main_context_iteration(context, TRUE);
    // Only when no calendar handed over an occurrence does it matter whether
    // the connected ones are empty or failed: then each is probed, one round
    // trip more. A window with events costs nothing extra.
    const bool anyDelivered = std::any_of(queries.begin(), queries.end(), [](const auto& q) { return q->delivered; });
    if (!anyDelivered) {
      for (auto& query : queries) {
        if (query->client) query->probe();
      }
      while (shared.pending > 0) g_main_context_iteration(context, TRUE);
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);

    // The store's order: calendar by calendar, each in the order EDS gave.
    // A calendar that is gone from the registry, or whose connection or query
    // failed, is not counted as read; nor is one without occurrences when
    // another had some, as it was not probed.
    StoreEvents found;
    for (auto& query : queries) {
      if (query->read()) ++found.calendarsRead;
      std::move(query->events.begin(), query->events.end(), std::back_inserter(found.events));
      // The open clients are kept, not closed: the process ends right after
      // the query, and closing would cost a round trip per calendar.
      clients_.push_back(std::move(query->client));
    }
    return found;
  }

 private:
  std::shared_ptr<RegistrySlot> slot_;
  std::vector<GRef<EClient>> clients_;
};

}  // namespace

std::unique_ptr<EventStore> makeSystemEventStore() {
  silenceGLib();
  return std::make_unique<EdsEventStore>();
}

}  // namespace halvic

"""The run's figures, printed as a table and returned as a dict."""

GOALS = [("sync-collection", "p99", 2000), ("PUT changed card", "p99", 1000),
         ("PUT new card", "p99", 1000), ("PUT new event", "p99", 1000)]


def kinds(stats):
    rows = []
    for (name, method), entry in sorted(stats.entries.items()):
        if entry.num_requests == 0:
            continue
        rows.append({"kind": name, "method": method, "count": entry.num_requests,
                     "errors": entry.num_failures,
                     "p50": entry.get_response_time_percentile(0.5),
                     "p95": entry.get_response_time_percentile(0.95),
                     "p99": entry.get_response_time_percentile(0.99),
                     "max": round(entry.max_response_time or 0)})
    return rows


def report(args, stats, admin, outcome, processes, elapsed, loads):
    rows = kinds(stats)
    errors = sum(row["errors"] for row in rows)
    print("\n%d users x %d cards, %d phones syncing every %g s, %g s of load" % (
        args.users, args.cards, args.phones, args.period, args.duration))
    print("load average before %s, at the end of the load %s, after %s" % (
        loads["before"], loads["during"], loads["after"]))
    print("\n%-32s %7s %6s %8s %8s %8s %8s" % ("request kind", "count", "errors", "p50 ms",
                                                "p95 ms", "p99 ms", "max ms"))
    for row in rows:
        print("%-32s %7d %6d %8d %8d %8d %8d" % (row["kind"], row["count"], row["errors"],
                                                 row["p50"], row["p95"], row["p99"], row["max"]))
    for error in sorted(stats.errors.values(), key=lambda e: -e.occurrences)[:10]:
        print("  error %s x%d: %s" % (error.name, error.occurrences, str(error.error)[:160]))

    ratios = {}
    for what, goal in (("list", 2), ("import", 3)):
        before, during = admin.unloaded.get(what), admin.loaded.get(what)
        ratio = during / before if before and during else None
        ratios[what] = ratio
        print("administrator %-6s unloaded %7.2f s, during the load %s -> %s (goal <= %dx)" % (
            what, before or 0, "%7.2f s" % during if during else "   none", "%.1fx" % ratio
            if ratio else "-", goal))

    print("\nlost %d, doubled %d, writes without an answer %d, phones whose view differs "
          "from the store after a last sync %d (%d phones without one)" % (
              len(outcome.lost), len(outcome.doubled), outcome.unsure, len(outcome.stale),
              outcome.unsynced))
    for line in (outcome.lost + outcome.doubled + outcome.stale)[:10]:
        print("  " + line)

    print("\n%-26s %9s %12s %12s" % ("process", "CPU s", "of one core", "peak RSS MB"))
    for kind, (cpu, rss) in processes.items():
        print("%-26s %9.1f %11.0f%% %12.1f" % (kind, cpu, 100 * cpu / elapsed, rss / 2**20))

    by_kind = {row["kind"]: row for row in rows}
    print()
    for kind, which, goal in GOALS:
        row = by_kind.get(kind)
        if row:
            print("goal %s %s <= %d ms: %d ms %s" % (kind, which, goal, row[which],
                                                     "met" if row[which] <= goal else "NOT met"))
    return {"settings": vars(args), "loads": loads, "kinds": rows, "errors": errors,
            "admin_unloaded": admin.unloaded, "admin_loaded": admin.loaded, "ratios": ratios,
            "lost": outcome.lost, "doubled": outcome.doubled, "unsure": outcome.unsure,
            "stale": outcome.stale, "unsynced": outcome.unsynced,
            "processes": {k: {"cpu_s": c, "peak_rss": r} for k, (c, r) in processes.items()},
            "seconds": elapsed}

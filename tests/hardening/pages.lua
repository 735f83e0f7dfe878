-- pages.lua: wrk script for the load check. Every connection alternates between the pages given
-- in the environment (HARDEN_PAGES, blank-separated targets), carrying the session cookie
-- (HARDEN_COOKIE, "name=value"). At the end it prints one line the run script reads:
--   harden-load: requests N answers N not200 N 5xx N errors N
-- "answers" counts the responses that came back whole; a page the console answered other than
-- with 200 (a lost session's 303, a 5xx) is in not200.

local threads = {}

function setup(thread)
    table.insert(threads, thread)
end

function init(args)
    pages = {}
    for target in string.gmatch(os.getenv("HARDEN_PAGES") or "/", "%S+") do
        table.insert(pages, target)
    end
    headers = { ["Cookie"] = os.getenv("HARDEN_COOKIE") or "" }
    turn = 0
    answers = 0
    not200 = 0
    server_errors = 0
end

function request()
    turn = turn + 1
    return wrk.format("GET", pages[(turn % #pages) + 1], headers)
end

function response(status, response_headers, body)
    answers = answers + 1
    if status ~= 200 then
        not200 = not200 + 1
    end
    if status >= 500 then
        server_errors = server_errors + 1
    end
end

function done(summary, latency, requests)
    local answered, failed, errors5 = 0, 0, 0
    for _, thread in ipairs(threads) do
        answered = answered + thread:get("answers")
        failed = failed + thread:get("not200")
        errors5 = errors5 + thread:get("server_errors")
    end
    local e = summary.errors
    io.write(string.format(
        "harden-load: requests %d answers %d not200 %d 5xx %d errors %d " ..
        "(connect %d read %d write %d timeout %d status %d)\n",
        summary.requests, answered, failed, errors5,
        e.connect + e.read + e.write + e.timeout, e.connect, e.read, e.write, e.timeout,
        e.status))
    io.write(string.format("harden-load: latency mean %.2f ms p50 %.2f ms p99 %.2f ms max %.2f ms\n",
        latency.mean / 1000, latency:percentile(50) / 1000, latency:percentile(99) / 1000,
        latency.max / 1000))
end

# The open road's log lines, recorded through the test logging library.
kestrel_add_logged_host_test(NAME SamiOpenLogsSubtitles FILTER "SamiOpen.LogsEverySubtitle")
kestrel_add_logged_host_test(NAME ProbeLogsShortRead FILTER "Probe.LogsAShortRead")

# Log lines of the overlay streams, checked through the loaded plug-in.
kestrel_add_logged_host_test(NAME StreamLogsSeeksAndDeliveries
                             FILTER "StreamPlayback.LogsSeeksAndDeliveries")

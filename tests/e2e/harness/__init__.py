"""The end-to-end test harness: what every test module and benchmark program shares.

wine: prefix, display and program start; net: the test namespace and certificates; servers: the
scripted origin, the proxies and the accept loop; dialog: the one dialog answerer; screen: the X
display (the only caller of xdotool); runtime: placing a runtime and reading javaw's records;
figures: figure lines and tables; bench_options: the options of the benchmark programs;
download_cases: the table of the live download cases.
"""

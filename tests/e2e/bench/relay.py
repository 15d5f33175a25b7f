"""A TCP relay that puts a distance between a bench's programs and its server, as the kernel here
has no netem: every byte takes half the round trip in each direction, and a new connection's first
bytes wait one round trip more, as behind a TCP handshake. So connections, TLS handshakes and
requests each pay what they would at that distance."""
import asyncio
import threading
import time


class Relay:
    def __init__(self, port, upstream_port, rtt_ms, host="127.0.0.1"):
        self.rtt = rtt_ms / 1000.0
        self.upstream = (host, upstream_port)
        self.loop = asyncio.new_event_loop()
        started = threading.Event()
        threading.Thread(target=self._run, args=(host, port, started), daemon=True).start()
        if not started.wait(10):
            raise RuntimeError("the relay did not start")

    def _run(self, host, port, started):
        asyncio.set_event_loop(self.loop)
        self.loop.run_until_complete(asyncio.start_server(self._serve, host, port))
        started.set()
        self.loop.run_forever()

    def stop(self):
        self.loop.call_soon_threadsafe(self.loop.stop)

    async def _serve(self, client_in, client_out):
        opened = time.monotonic()
        try:
            server_in, server_out = await asyncio.open_connection(*self.upstream)
        except OSError:
            client_out.close()
            return
        await asyncio.gather(self._pipe(client_in, server_out, opened + self.rtt), self._pipe(server_in, client_out, 0))
        client_out.close()
        server_out.close()

    async def _pipe(self, reader, writer, not_before):
        """Forwards what reader gives to writer, each piece half a round trip after it arrived (and
        not before not_before), in order; the end of the stream too."""
        pieces = asyncio.Queue()

        async def deliver():
            while True:
                due, data = await pieces.get()
                await asyncio.sleep(max(0.0, due - time.monotonic()))
                try:
                    if not data:
                        writer.write_eof()
                        return
                    writer.write(data)
                    await writer.drain()
                except (ConnectionError, OSError):
                    return

        delivering = asyncio.ensure_future(deliver())
        while True:
            try:
                data = await reader.read(65536)
            except (ConnectionError, OSError):
                data = b""
            pieces.put_nowait((max(time.monotonic(), not_before) + self.rtt / 2, data))
            if not data:
                break
        await delivering

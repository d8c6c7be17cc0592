#!/usr/bin/python3
"""A slow link for the relay benchmark: a loopback TCP forwarder.

  delay_link.py TARGET_PORT [DELAY_SECONDS]

Listens on 127.0.0.1, prints its port on the first line of standard output,
and forwards each connection to 127.0.0.1:TARGET_PORT, holding every chunk
DELAY_SECONDS (default 0.025) in each direction and keeping the order, as a
link to a distant server would. A side that closes is closed on the other
side after the same delay. It stops on SIGTERM.
"""
import asyncio
import signal
import socket
import sys


async def carry(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def take():
        while True:
            data = await reader.read(1 << 16)
            await queue.put((loop.time() + delay, data))
            if not data:
                return

    async def give():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    try:
        await asyncio.gather(take(), give())
    except (ConnectionError, OSError):
        writer.close()


async def serve(target, delay):
    async def link(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(carry(client_reader, server_writer, delay), carry(server_reader, client_writer, delay))
        client_writer.close()
        server_writer.close()

    server = await asyncio.start_server(link, "127.0.0.1", 0)
    for s in server.sockets:
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    print(server.sockets[0].getsockname()[1], flush=True)
    stop = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    async with server:
        await stop.wait()


if __name__ == "__main__":
    asyncio.run(serve(int(sys.argv[1]), float(sys.argv[2]) if len(sys.argv) > 2 else 0.025))

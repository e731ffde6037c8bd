#!/usr/bin/python3
"""An XMPP chat partner, driven over stdin and stdout with one JSON object per line.

Usage: parlavox-partner.py <jid> <password> <host> <port> [--converse]

With --converse it is the demo's partner, who writes in Spanish: it answers every chat message with
a reply from a small fixed table (chosen by the words of the message, else the next of a few general
replies in turn), and {"cmd": "greet", "to": JID} sends its greeting.

It connects without STARTTLS, sends its presence, fetches its roster and then reports
    {"event": "online"}
or, when it cannot log in,
    {"event": "failed", "reason": "..."}
Commands on stdin:
    {"cmd": "send", "to": JID, "body": TEXT}
    {"cmd": "send_rich", "to": JID, "body": TEXT, "xhtml": INNER_XHTML}
    {"cmd": "join", "room": ROOM_JID, "nick": NICK}      -> {"event": "joined", "room": ...}
                                                          or {"event": "join_failed", ...}
    {"cmd": "groupchat", "room": ROOM_JID, "body": TEXT}
    {"cmd": "greet", "to": JID}
    {"cmd": "quit"}
Every message received with a body is reported as
    {"event": "message", "from": FULL_JID_OR_ROOM/NICK, "type": "chat"|"groupchat"|..., "body": TEXT}
except the room's echo of our own group messages. Rooms are joined without history.
"""

import asyncio
import json
import os
import sys

import slixmpp


GREETING = "Hola, buenos días. Mi nombre es Sofía."

# (words, any of which in the message, lower-cased, chooses the reply), in the order tried. The
# message holds what the user wrote and, when it was translated, its Spanish translation.
REPLIES = [
    (("how are you", "cómo estás"), "Muy bien, gracias. ¿Y tú?"),
    (("your name", "tu nombre", "vuestro nombre", "who are you"), "Mi nombre es Sofía."),
    (("weather", "tiempo"), "Está lloviendo en Madrid."),
    (("thank", "gracias"), "Con mucho gusto."),
    (("bye", "adiós"), "Hasta luego."),
    (("hello", "hola", "good morning", "buenos días"), "Hola, buenos días."),
]
GENERAL_REPLIES = ["Es muy interesante.", "Estoy de acuerdo.", "Es un placer."]


def reply_to(body, general_count):
    """The reply to `body`, and whether it was one of the general replies."""
    text = body.lower()
    for words, reply in REPLIES:
        if any(word in text for word in words):
            return reply, False
    return GENERAL_REPLIES[general_count % len(GENERAL_REPLIES)], True


def emit(obj):
    sys.stdout.write(json.dumps(obj) + "\n")
    sys.stdout.flush()


class Partner(slixmpp.ClientXMPP):
    def __init__(self, jid, password, converse=False):
        super().__init__(jid, password)
        self.converse = converse
        self.general_replies = 0
        self.register_plugin("xep_0030")
        self.register_plugin("xep_0045")
        self.register_plugin("xep_0071")
        self.register_plugin("xep_0199")
        self["feature_mechanisms"].unencrypted_plain = True
        self.nicks = {}  # room JID -> our nick there
        self.input = b""
        self.commands = asyncio.Queue()
        self.quitting = False
        self.online = False
        self.add_event_handler("session_start", self.on_session_start)
        self.add_event_handler("failed_auth", self.on_failed_auth)
        self.add_event_handler("message", self.on_message)
        self.add_event_handler("groupchat_message", self.on_groupchat_message)
        self.add_event_handler("disconnected", self.on_disconnected)
        self.add_event_handler("connection_failed", self.on_connection_failed)

    async def on_session_start(self, _event):
        self.send_presence()
        await self.get_roster()
        if self.online:
            return  # a new session after a reconnection: the commands are read already
        self.online = True
        asyncio.ensure_future(self.run_commands())
        self.loop.add_reader(sys.stdin.fileno(), self.on_stdin)
        emit({"event": "online"})

    def on_failed_auth(self, _event):
        emit({"event": "failed", "reason": "authentication failed"})
        self.quit()

    def on_connection_failed(self, error):
        emit({"event": "failed", "reason": "connection failed: %s" % error})
        self.quit()

    def on_disconnected(self, _event):
        if not self.quitting:
            emit({"event": "disconnected"})
        self.quit()

    def on_message(self, msg):
        # Group messages come through on_groupchat_message.
        if msg["type"] in ("chat", "normal") and msg["body"]:
            emit({"event": "message", "from": str(msg["from"]), "type": msg["type"], "body": msg["body"]})
            if self.converse and msg["type"] == "chat":
                reply, general = reply_to(msg["body"], self.general_replies)
                self.general_replies += 1 if general else 0
                self.send_message(mto=msg["from"].bare, mbody=reply, mtype="chat")

    def on_groupchat_message(self, msg):
        room = msg["from"].bare
        if not msg["body"] or msg["mucnick"] == self.nicks.get(room):
            return
        emit({"event": "message", "from": str(msg["from"]), "type": "groupchat", "body": msg["body"]})

    def on_stdin(self):
        # Read the descriptor itself: several commands may arrive in one wake-up, and a buffered
        # reader would hold the rest where no further wake-up comes for them.
        data = os.read(sys.stdin.fileno(), 65536)
        if not data:
            self.quit()
            return
        self.input += data
        while b"\n" in self.input:
            line, self.input = self.input.split(b"\n", 1)
            if not line.strip():
                continue
            try:
                command = json.loads(line.decode("utf-8"))
            except ValueError:
                emit({"event": "error", "reason": "not JSON: %r" % line})
                continue
            # Commands run in the order given (a send after a join waits for the join).
            self.commands.put_nowait(command)

    async def run_commands(self):
        while True:
            command = await self.commands.get()
            await self.run_command(command)

    async def run_command(self, c):
        kind = c.get("cmd")
        if kind == "send":
            self.send_message(mto=c["to"], mbody=c["body"], mtype="chat")
        elif kind == "send_rich":
            self.send_message(mto=c["to"], mbody=c["body"], mhtml=c["xhtml"], mtype="chat")
        elif kind == "groupchat":
            self.send_message(mto=c["room"], mbody=c["body"], mtype="groupchat")
        elif kind == "join":
            room, nick = c["room"], c["nick"]
            self.nicks[room] = nick
            try:
                await self["xep_0045"].join_muc_wait(room, nick, maxstanzas=0, timeout=c.get("timeout", 10))
                emit({"event": "joined", "room": room})
            except Exception as error:  # a timeout or an error presence from the room
                self.nicks.pop(room, None)
                emit({"event": "join_failed", "room": room, "reason": repr(error)})
        elif kind == "greet":
            self.send_message(mto=c["to"], mbody=GREETING, mtype="chat")
        elif kind == "quit":
            self.quit()
        else:
            emit({"event": "error", "reason": "unknown command: %r" % kind})

    def quit(self):
        if self.quitting:
            return
        self.quitting = True
        try:
            self.loop.remove_reader(sys.stdin.fileno())
        except (ValueError, OSError):
            pass
        self.disconnect(wait=0.5)
        self.loop.call_later(1.0, self.loop.stop)


def main():
    jid, password, host, port = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    partner = Partner(jid, password, converse="--converse" in sys.argv[5:])
    partner.connect((host, port), use_ssl=False, force_starttls=False, disable_starttls=True)
    partner.disconnected.add_done_callback(lambda _f: partner.loop.stop())
    partner.loop.run_forever()


if __name__ == "__main__":
    main()

// Asks the host who it is, once the bridge is there.
const host = document.getElementById('host');
if (window.vtl && window.vtl.hello) {
  window.vtl.hello()
    .then((answer) => { host.textContent = `The host answered: ${answer}`; })
    .catch((error) => { host.textContent = `The host refused: ${error}`; });
} else {
  host.textContent = 'No host here: open this page inside the packaged program.';
}

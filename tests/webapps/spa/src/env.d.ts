declare module "*.css";
declare module "*.svg" {
  const url: string;
  export default url;
}
